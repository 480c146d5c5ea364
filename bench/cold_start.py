"""Cold start to first answer: `sqs list-queues` beside `/usr/bin/aws sqs list-queues`, each run
a new process, over plain HTTP and over HTTPS. Run with /usr/bin/python3:

    cold_start.py RUNS_OURS RUNS_AWS SQS EXPECTED HTTP_URL HTTPS_URL CA_FILE

The runs of both commands are interleaved (with equal counts: ours, aws, ours, aws, ...; with
unequal ones spread evenly), so a change of the machine's load hits both. Each run must exit
0 and list EXPECTED. Before the measured runs, each command runs once unmeasured, so the first
measured one does not read the files from disk. Prints the medians of wall time and of the
process's CPU time (user + system, from getrusage of the waited-for children) and the ratios.
"""
import resource, statistics, subprocess, sys, time

runs_ours, runs_aws = int(sys.argv[1]), int(sys.argv[2])
sqs, expected, http, https, ca = sys.argv[3:8]
schemes = (("http", http, []), ("https", https, ["--ca-bundle", ca]))


def command(tool, endpoint, extra):
    if tool == "sqs":
        return [sqs, "--endpoint-url", endpoint, *extra, "list-queues"]
    return ["/usr/bin/aws", "--endpoint-url", endpoint, *extra, "sqs", "list-queues"]


def run(argv):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0 or expected.encode() not in done.stdout:
        sys.exit(f"{' '.join(argv)} failed ({done.returncode}): "
                 f"{done.stderr.decode(errors='replace')}{done.stdout.decode(errors='replace')}")
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


# Slot k of a command with n runs sits at (k + 0.5) / n of the way; ours first on a tie.
order = sorted([((k + 0.5) / runs_ours, 0, "sqs") for k in range(runs_ours)] +
               [((k + 0.5) / runs_aws, 1, "aws") for k in range(runs_aws)])
samples = {(tool, scheme): [] for tool in ("sqs", "aws") for scheme, _, _ in schemes}
for tool in ("sqs", "aws"):
    for scheme, endpoint, extra in schemes:
        run(command(tool, endpoint, extra))
for _, _, tool in order:
    for scheme, endpoint, extra in schemes:
        samples[(tool, scheme)].append(run(command(tool, endpoint, extra)))


def medians(tool, scheme):
    walls, cpus = zip(*samples[(tool, scheme)])
    return statistics.median(walls), statistics.median(cpus)


print(f"{'':6} {'sqs wall':>10} {'aws wall':>10} {'ratio':>7}   "
      f"{'sqs cpu':>10} {'aws cpu':>10} {'ratio':>7}")
for scheme, _, _ in schemes:
    (ow, oc), (aw, ac) = medians("sqs", scheme), medians("aws", scheme)
    print(f"{scheme:6} {ow*1e3:8.1f}ms {aw*1e3:8.1f}ms {aw/ow:6.1f}x   "
          f"{oc*1e3:8.1f}ms {ac*1e3:8.1f}ms {ac/max(oc, 1e-6):6.1f}x")
print(f"(medians of {runs_ours} runs of sqs and {runs_aws} of aws, interleaved; "
      f"cpu = user + system of the process)")
