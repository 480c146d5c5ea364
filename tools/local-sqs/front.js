'use strict';
// A local SQS-compatible service for tests and demos: local-aws-sqs, run in
// this process, behind a front that checks every request's Signature Version 4
// the way AWS does, turns signed GETs (our client's form of the Query protocol)
// into the form POSTs the service reads, and points the queue URLs of its
// answers back at the front. Run `node front.js --help` for the options.

const fs = require('node:fs');
const http = require('node:http');
const https = require('node:https');
const { createHash, randomUUID } = require('node:crypto');
const { Readable } = require('node:stream');
const { parseArgs } = require('node:util');
const { createRequestHandler } = require('local-aws-sqs');
// The very module instance the service calls (see awsMd5OfMessageAttributes below).
const md5Attributes = require(
  require.resolve('aws-md5-of-message-attributes', { paths: [require.resolve('local-aws-sqs')] }),
);
const { AuthError, createChecker, parseQuery } = require('./sigv4check');

// The host the service writes into its queue URLs; the front replaces it by
// the scheme and Host of each request. ".invalid" cannot name a real host.
const SERVICE_HOST = 'local-sqs.invalid';
const SERVICE_URL_PREFIX = `http://${SERVICE_HOST}/`;
const QUERY_NS = 'http://queue.amazonaws.com/doc/2012-11-05/';
const JSON_CONTENT_TYPE = 'application/x-amz-json-1.0';
const MAX_BODY_BYTES = 16 * 1024 * 1024;

const DEFAULTS = {
  host: '127.0.0.1',
  httpPort: 0,
  httpsPort: null,
  cert: null,
  key: null,
  ca: null,
  accessKey: 'test',
  secretKey: 'test',
  sessionToken: null,
  region: 'us-east-1',
  accountId: '000000000000',
  maxSkewSeconds: 900,
  maxHeaderSize: 64 * 1024,
  verbose: false,
};

function xmlEscape(text) {
  return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

/** AWS's Query-protocol error document. */
function errorXml(code, message, requestId, type = 'Sender') {
  return (
    `<?xml version="1.0"?><ErrorResponse xmlns="${QUERY_NS}"><Error><Type>${type}</Type>` +
    `<Code>${xmlEscape(code)}</Code><Message>${xmlEscape(message)}</Message><Detail/></Error>` +
    `<RequestId>${requestId}</RequestId></ErrorResponse>`
  );
}

/** Strict form encoding: everything but A-Za-z0-9-._~ as %XX of its UTF-8 bytes. */
function formEncode(text) {
  return encodeURIComponent(text).replace(/[!'()*]/g, (c) => `%${c.charCodeAt(0).toString(16).toUpperCase()}`);
}

function readBody(req, limit) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    req.on('data', (chunk) => {
      size += chunk.length;
      if (size > limit) {
        reject(Object.assign(new Error('request body too large'), { tooLarge: true }));
        req.destroy();
        return;
      }
      chunks.push(chunk);
    });
    req.on('end', () => resolve(Buffer.concat(chunks)));
    req.on('error', reject);
  });
}

/** Replaces the service's queue-URL prefix by `base` inside the QueueUrl elements or JSON fields. */
function rewriteQueueUrls(body, isJson, base) {
  if (!body.includes(SERVICE_URL_PREFIX)) return body;
  if (!isJson) return body.split(`<QueueUrl>${SERVICE_URL_PREFIX}`).join(`<QueueUrl>${base}/`);
  let doc;
  try {
    doc = JSON.parse(body);
  } catch {
    return body;
  }
  const fix = (url) => (typeof url === 'string' && url.startsWith(SERVICE_URL_PREFIX) ? `${base}/${url.slice(SERVICE_URL_PREFIX.length)}` : url);
  if (doc && typeof doc === 'object') {
    if ('QueueUrl' in doc) doc.QueueUrl = fix(doc.QueueUrl);
    for (const key of ['QueueUrls', 'queueUrls']) if (Array.isArray(doc[key])) doc[key] = doc[key].map(fix);
  }
  return JSON.stringify(doc);
}

// The package's digest of message attributes (MD5OfMessageAttributes, from
// aws-md5-of-message-attributes) writes the length of a name, type or string
// value as its count of UTF-16 code units where AWS writes its count of UTF-8
// bytes, so for non-ASCII text it gives digests that no AWS client accepts.
// The service looks that function up on the module's exports at every call; the
// front keeps the package's function where the two counts agree (ASCII text)
// and writes byte counts itself otherwise.
const packageDigest = md5Attributes.md5OfMessageAttributes;
md5Attributes.md5OfMessageAttributes = function awsMd5OfMessageAttributes(attributes) {
  const texts = Object.entries(attributes).flatMap(([name, a]) => [name, a.DataType, a.StringValue ?? '']);
  if (texts.every((text) => /^[\x00-\x7f]*$/.test(text))) return packageDigest(attributes);
  const field = (bytes) => {
    const length = Buffer.alloc(4);
    length.writeUInt32BE(bytes.length);
    return Buffer.concat([length, bytes]);
  };
  const parts = [];
  for (const name of Object.keys(attributes).sort()) {
    const { DataType, StringValue, BinaryValue } = attributes[name];
    const binary = DataType.startsWith('Binary');
    parts.push(field(Buffer.from(name, 'utf8')), field(Buffer.from(DataType, 'utf8')));
    parts.push(Buffer.from([binary ? 2 : 1]));
    parts.push(field(binary ? Buffer.from(BinaryValue, 'base64') : Buffer.from(StringValue, 'utf8')));
  }
  return createHash('md5').update(Buffer.concat(parts)).digest('hex');
};

/**
 * The front: one in-process service, an HTTP and/or an HTTPS listener.
 * `listen()` resolves to { http, https } endpoint URLs (or null); `close()` stops both.
 */
function createFront(userOptions = {}) {
  const options = { ...DEFAULTS, ...userOptions };
  const { service, requestHandler } = createRequestHandler({
    port: 80, // no port in the service's own URLs; the front rewrites them anyway
    hostname: SERVICE_HOST,
    region: options.region,
    accountId: options.accountId,
    // A deleted queue's name can be used again at once, not after 60 s.
    emulateQueueCreationLifecycle: false,
    emulateLazyQueues: false,
  });
  const checker = createChecker({
    accessKey: options.accessKey,
    secretKey: options.secretKey,
    sessionToken: options.sessionToken,
    region: options.region,
    service: 'sqs',
    maxSkewSeconds: options.maxSkewSeconds,
    now: options.now,
  });
  const log = options.verbose ? (line) => process.stderr.write(`local-sqs: ${line}\n`) : () => {};

  // The package purges 60 s after PurgeQueue and has no option against it;
  // its queues carry `purge` as an own property, so each queue gets an instant one.
  const instantPurge = Symbol('instantPurge');
  function makePurgesInstant() {
    for (const queue of service.Queues) {
      if (queue[instantPurge]) continue;
      queue.purge = (done) => {
        queue.clearRecords();
        if (typeof done === 'function') done();
        return true;
      };
      queue[instantPurge] = true;
    }
  }

  /** Runs one request through the package's handler, with no socket in between. */
  function callService(headers, body) {
    makePurgesInstant();
    return new Promise((resolve, reject) => {
      const req = Readable.from(body.length ? [body] : []);
      req.headers = headers;
      req.method = 'POST';
      req.url = '/';
      const responseHeaders = {};
      const res = {
        statusCode: 200,
        setHeader(name, value) {
          responseHeaders[name.toLowerCase()] = value;
        },
        getHeader(name) {
          return responseHeaders[name.toLowerCase()];
        },
        end(data) {
          resolve({ status: this.statusCode, headers: responseHeaders, body: data == null ? '' : String(data) });
        },
      };
      requestHandler(req, res).catch(reject);
    });
  }

  function endpointBase(req, scheme) {
    const host = req.headers.host;
    if (host && /^[A-Za-z0-9.\-:[\]]+$/.test(host)) return `${scheme}://${host}`;
    const addr = req.socket.localAddress.includes(':') ? `[${req.socket.localAddress}]` : req.socket.localAddress;
    return `${scheme}://${addr}:${req.socket.localPort}`;
  }

  function send(res, status, headers, body) {
    const payload = Buffer.from(body, 'utf8');
    res.writeHead(status, { ...headers, 'Content-Length': payload.length });
    res.end(payload);
  }

  function sendError(res, isJson, status, code, message, requestId) {
    if (isJson) {
      send(
        res,
        status,
        { 'Content-Type': JSON_CONTENT_TYPE, 'x-amzn-RequestId': requestId, 'x-amzn-query-error': `${code};Sender` },
        JSON.stringify({ __type: `com.amazon.coral.service#${code}`, message }),
      );
    } else {
      send(res, status, { 'Content-Type': 'text/xml', 'x-amzn-RequestId': requestId }, errorXml(code, message, requestId));
    }
  }

  async function handle(req, res, scheme) {
    const requestId = randomUUID();
    const contentType = String(req.headers['content-type'] || '').toLowerCase();
    const isJson = req.method === 'POST' && contentType.startsWith('application/x-amz-json');
    let body;
    try {
      body = await readBody(req, MAX_BODY_BYTES);
    } catch (err) {
      if (err.tooLarge) sendError(res, isJson, 413, 'RequestEntityTooLarge', 'Request body too large.', requestId);
      return;
    }
    let target = req.url;
    if (/^https?:\/\//i.test(target)) target = target.replace(/^https?:\/\/[^/?]*/i, '') || '/';
    const q = target.indexOf('?');
    const path = q < 0 ? target : target.slice(0, q);
    const rawQuery = q < 0 ? '' : target.slice(q + 1);

    try {
      await checker.check({ method: req.method, path, rawQuery, headersDistinct: req.headersDistinct, body });
    } catch (err) {
      if (!(err instanceof AuthError)) throw err;
      log(`${req.method} ${req.url} -> ${err.status} ${err.code}`);
      sendError(res, isJson, err.status, err.code, err.message, requestId);
      return;
    }

    const base = endpointBase(req, scheme);
    let forwardHeaders;
    let forwardBody;
    if (isJson) {
      forwardHeaders = { 'content-type': JSON_CONTENT_TYPE, 'x-amz-target': req.headers['x-amz-target'] || '' };
      forwardBody = body;
    } else {
      // Parameters of a form body, then of the query string; the queue named
      // by the path becomes QueueUrl unless a QueueUrl parameter is given.
      const pairs = [];
      if (req.method === 'POST') pairs.push(...parseQuery(body.toString('utf8')));
      pairs.push(...parseQuery(rawQuery));
      const segments = path.split('/').filter(Boolean);
      if (segments.length === 2 && !pairs.some(([name]) => name === 'QueueUrl')) {
        pairs.push(['QueueUrl', `${base}/${segments[0]}/${segments[1]}`]);
      }
      forwardHeaders = { 'content-type': 'application/x-www-form-urlencoded; charset=utf-8' };
      forwardBody = Buffer.from(pairs.map(([n, v]) => `${formEncode(n)}=${formEncode(v)}`).join('&'), 'utf8');
    }
    const trace = req.headers['x-amzn-trace-id'];
    if (trace) forwardHeaders['x-amzn-trace-id'] = trace;

    const answer = await callService(forwardHeaders, forwardBody);
    const headers = {};
    for (const [name, value] of Object.entries(answer.headers)) {
      headers[name === 'x-amzn-requestid' ? 'x-amzn-RequestId' : name] = value;
    }
    log(`${req.method} ${req.url} -> ${answer.status}`);
    send(res, answer.status, headers, rewriteQueueUrls(answer.body, isJson, base));
  }

  function onRequest(scheme) {
    return (req, res) => {
      handle(req, res, scheme).catch((err) => {
        log(`internal error: ${err && err.stack}`);
        if (!res.headersSent) {
          const id = randomUUID();
          send(res, 500, { 'Content-Type': 'text/xml', 'x-amzn-RequestId': id }, errorXml('InternalFailure', String(err && err.message), id, 'Receiver'));
        } else {
          res.destroy();
        }
      });
    };
  }

  const servers = [];

  function listenOne(server, port) {
    // Idle keep-alive connections stay open for a minute, as AWS's do, so a
    // client reusing its connection between slow test steps does not race a close.
    server.keepAliveTimeout = 60 * 1000;
    server.headersTimeout = 65 * 1000;
    return new Promise((resolve, reject) => {
      server.once('error', reject);
      server.listen(port, options.host, () => {
        server.off('error', reject);
        servers.push(server);
        const { address, port: bound } = server.address();
        resolve(`${address.includes(':') ? `[${address}]` : address}:${bound}`);
      });
    });
  }

  async function listen() {
    const result = { http: null, https: null };
    const serverOptions = { maxHeaderSize: options.maxHeaderSize };
    if (options.httpPort !== null && options.httpPort !== undefined) {
      const server = http.createServer(serverOptions, onRequest('http'));
      result.http = `http://${await listenOne(server, options.httpPort)}`;
    }
    if (options.httpsPort !== null && options.httpsPort !== undefined) {
      if (!options.cert || !options.key) throw new Error('HTTPS needs --cert and --key');
      const server = https.createServer(
        { ...serverOptions, cert: fs.readFileSync(options.cert), key: fs.readFileSync(options.key) },
        onRequest('https'),
      );
      result.https = `https://${await listenOne(server, options.httpsPort)}`;
    }
    return result;
  }

  async function close() {
    await Promise.all(
      servers.splice(0).map(
        (server) =>
          new Promise((resolve) => {
            server.close(() => resolve());
            server.closeAllConnections();
          }),
      ),
    );
    service.resetAll();
  }

  return { listen, close, service, options };
}

const USAGE = `Usage: node front.js [options]

Starts the local SQS service behind a Signature Version 4 checking front and
prints, one per line on standard output:
  LOCAL_SQS_HTTP=http://HOST:PORT     (unless --no-http)
  LOCAL_SQS_HTTPS=https://HOST:PORT   (with --https-port or --cert)
  LOCAL_SQS_CA=FILE                   (with --ca)
  LOCAL_SQS_REGION=REGION
  LOCAL_SQS_ACCOUNT_ID=ID
  LOCAL_SQS_READY=1
then serves until SIGTERM or SIGINT (exit status 0).

Options:
  --host ADDR            address to listen on (default 127.0.0.1)
  --http-port N          plain HTTP port, 0 = chosen by the OS (default 0)
  --no-http              no plain HTTP listener
  --https-port N         TLS port, 0 = chosen by the OS (default 0 when --cert is given)
  --cert FILE            server certificate (PEM) for TLS
  --key FILE             server private key (PEM) for TLS
  --ca FILE              CA certificate to print as LOCAL_SQS_CA (not used otherwise)
  --region R             the region the service answers for (default us-east-1)
  --access-key K         accepted access key id (default test)
  --secret-key S         its secret access key (default test)
  --session-token T      when given, requests must carry this X-Amz-Security-Token
  --account-id ID        account id in queue URLs and ARNs (default 000000000000)
  --max-skew-seconds N   allowed difference of X-Amz-Date from now (default 900)
  --max-header-size N    largest request line plus headers in bytes (default 65536)
  --exit-with-stdin      exit when standard input closes
  --verbose              log each request to standard error
  --help                 this text
`;

function optionsFromArgs(argv) {
  const { values } = parseArgs({
    args: argv,
    options: {
      host: { type: 'string' },
      'http-port': { type: 'string' },
      'no-http': { type: 'boolean' },
      'https-port': { type: 'string' },
      cert: { type: 'string' },
      key: { type: 'string' },
      ca: { type: 'string' },
      region: { type: 'string' },
      'access-key': { type: 'string' },
      'secret-key': { type: 'string' },
      'session-token': { type: 'string' },
      'account-id': { type: 'string' },
      'max-skew-seconds': { type: 'string' },
      'max-header-size': { type: 'string' },
      'exit-with-stdin': { type: 'boolean' },
      verbose: { type: 'boolean' },
      help: { type: 'boolean' },
    },
  });
  const int = (name) => {
    const text = values[name];
    if (!/^\d+$/.test(text)) throw new Error(`--${name} needs a non-negative integer, got '${text}'`);
    return Number(text);
  };
  const o = { help: Boolean(values.help), exitWithStdin: Boolean(values['exit-with-stdin']) };
  if (values.host !== undefined) o.host = values.host;
  o.httpPort = values['no-http'] ? null : values['http-port'] !== undefined ? int('http-port') : 0;
  if (values['https-port'] !== undefined) o.httpsPort = int('https-port');
  else if (values.cert !== undefined) o.httpsPort = 0;
  for (const [flag, key] of [
    ['cert', 'cert'],
    ['key', 'key'],
    ['ca', 'ca'],
    ['region', 'region'],
    ['access-key', 'accessKey'],
    ['secret-key', 'secretKey'],
    ['session-token', 'sessionToken'],
    ['account-id', 'accountId'],
  ]) {
    if (values[flag] !== undefined) o[key] = values[flag];
  }
  if (values['max-skew-seconds'] !== undefined) o.maxSkewSeconds = int('max-skew-seconds');
  if (values['max-header-size'] !== undefined) o.maxHeaderSize = int('max-header-size');
  if (values.verbose) o.verbose = true;
  return o;
}

async function main() {
  let opts;
  try {
    opts = optionsFromArgs(process.argv.slice(2));
  } catch (err) {
    process.stderr.write(`local-sqs: ${err.message}\n\n${USAGE}`);
    process.exit(2);
  }
  if (opts.help) {
    process.stdout.write(USAGE);
    return;
  }
  if (opts.httpPort === null && (opts.httpsPort === null || opts.httpsPort === undefined)) {
    process.stderr.write('local-sqs: no listener: give --http-port, --https-port or --cert\n');
    process.exit(2);
  }
  const front = createFront(opts);
  let endpoints;
  try {
    endpoints = await front.listen();
  } catch (err) {
    process.stderr.write(`local-sqs: ${err.message}\n`);
    process.exit(1);
  }
  let stopping = false;
  const stop = () => {
    if (stopping) return;
    stopping = true;
    front.close().then(() => process.exit(0));
  };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
  if (opts.exitWithStdin) {
    process.stdin.on('end', stop);
    process.stdin.on('error', stop);
    process.stdin.resume();
  }
  const lines = [];
  if (endpoints.http) lines.push(`LOCAL_SQS_HTTP=${endpoints.http}`);
  if (endpoints.https) lines.push(`LOCAL_SQS_HTTPS=${endpoints.https}`);
  if (front.options.ca) lines.push(`LOCAL_SQS_CA=${require('node:path').resolve(front.options.ca)}`);
  lines.push(`LOCAL_SQS_REGION=${front.options.region}`, `LOCAL_SQS_ACCOUNT_ID=${front.options.accountId}`, 'LOCAL_SQS_READY=1');
  // Writes to a pipe or file are synchronous on Linux, so the lines are out
  // before anything else happens.
  process.stdout.write(`${lines.join('\n')}\n`);
}

if (require.main === module) main();

module.exports = { createFront, errorXml, formEncode, rewriteQueueUrls, SERVICE_HOST };
