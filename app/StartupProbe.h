// Measurement switches of the program, read from the environment at start-up. They serve the
// screenshot script and the start-up benchmark; without them the program behaves normally.
//
//   AMAZON_SQS_SCREENSHOT=<file.png>  after the window's first paint, save the screen's pixels
//                                     under the window's frame to the file and quit.
//   AMAZON_SQS_BENCH=1                print "first_paint_ms=<n>" and "first_paint_cpu_ms=<n>"
//                                     (user + system CPU time) at the window's first paint,
//                                     type AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY (when
//                                     set) into the key fields, click List Queues, print
//                                     "rss_kb=<n>" and the log pane, open the queue browser,
//                                     print "browser_paint_ms=<n>" (from opening it to its
//                                     first paint) and, once it has listed the queues,
//                                     "rss_kb_browser=<n>", and quit. The time
//                                     counts from AMAZON_SQS_T0_NS (a CLOCK_MONOTONIC stamp in
//                                     nanoseconds taken by the launcher) when given, else from
//                                     the process's start; the CPU time from
//                                     AMAZON_SQS_T0_CPU_NS (the launcher's own process CPU
//                                     time at exec, which the exec carries over) when given.
#pragma once

class TFRMAmazonSQS;

// Installs whatever the environment asks for on Window. Returns false when nothing was asked.
bool InstallStartupProbe(TFRMAmazonSQS& Window);
