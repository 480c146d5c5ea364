'use strict';
// Tests of the local SQS front: each starts its own instance on an OS-picked
// port and talks to it over loopback, signing as our C++ client does (a GET
// whose query is sorted and percent-encoded, content-type;host;x-amz-date
// signed, host with ":port") and as other clients do (form POSTs).

const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const http = require('node:http');
const https = require('node:https');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { SignatureV4 } = require('@smithy/signature-v4');
const { Sha256 } = require('@aws-crypto/sha256-js');
const { createFront } = require('../front');

const FORM_TYPE = 'application/x-www-form-urlencoded; charset=utf-8';
const ACCOUNT = '000000000000';
// & = + % # space, quotes, and characters of 1 to 4 UTF-8 bytes.
const TRICKY_BODY = 'a&b=c+d%e#f g "quoted" caf\u00e9 \u20ac \u{1F600} done';

/** SigV4 canonical encoding: A-Za-z0-9-._~ kept, every other UTF-8 byte as %XX. */
function sigv4Encode(text) {
  return encodeURIComponent(text).replace(/[!'()*]/g, (c) => `%${c.charCodeAt(0).toString(16).toUpperCase()}`);
}

/** A query as our client writes it: parameters sorted by name, canonically encoded. */
function clientQuery(params) {
  return [...params]
    .sort(([a], [b]) => (a < b ? -1 : a > b ? 1 : 0))
    .map(([k, v]) => `${sigv4Encode(k)}=${sigv4Encode(v)}`)
    .join('&');
}

function uniqueName(prefix) {
  return `${prefix}-${crypto.randomBytes(6).toString('hex')}`;
}

function amzDate(date) {
  return date.toISOString().replace(/\.\d{3}Z$/, 'Z').replace(/[-:]/g, '');
}

/** Sends one request; resolves to { status, headers, body }. */
function send(endpoint, { method = 'GET', target = '/', headers = {}, body, ca }) {
  const url = new URL(endpoint);
  const lib = url.protocol === 'https:' ? https : http;
  return new Promise((resolve, reject) => {
    const req = lib.request(
      { host: url.hostname, port: url.port, method, path: target, headers, ca, agent: false },
      (res) => {
        const chunks = [];
        res.on('data', (c) => chunks.push(c));
        res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks).toString('utf8') }));
      },
    );
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

/**
 * Signs with AWS's JavaScript signer and sends. params: [[name, value], ...];
 * for GET they go into the query, for POST into a form body.
 */
async function signedRequest(endpoint, params, opts = {}) {
  const url = new URL(endpoint);
  const method = opts.method || 'GET';
  const reqPath = opts.path || '/';
  const host = opts.signedHost ?? url.host;
  const date = opts.date || new Date();
  const headers = { 'content-type': FORM_TYPE, host, ...(opts.extraHeaders || {}) };
  const query = {};
  let body;
  if (method === 'GET') for (const [k, v] of params) query[k] = v;
  else body = clientQuery(params);
  const signer = new SignatureV4({
    credentials: {
      accessKeyId: opts.accessKey || 'test',
      secretAccessKey: opts.secretKey || 'test',
      sessionToken: opts.sessionToken,
    },
    region: opts.region || 'us-east-1',
    service: opts.service || 'sqs',
    sha256: Sha256,
    applyChecksum: false,
  });
  const signed = await signer.sign(
    { method, protocol: url.protocol, hostname: url.hostname, port: Number(url.port), path: reqPath, query, headers, body },
    { signingDate: date },
  );
  const sendHeaders = { ...signed.headers, host: url.host }; // the Host line as the connection carries it
  if (opts.mutateHeaders) opts.mutateHeaders(sendHeaders);
  const qs = method === 'GET' ? clientQuery(params) : '';
  let target = qs ? `${reqPath}?${qs}` : reqPath;
  if (opts.mutateTarget) target = opts.mutateTarget(target);
  return send(endpoint, { method, target, headers: sendHeaders, body: opts.mutateBody ? opts.mutateBody(body) : body, ca: opts.ca });
}

/** An independent signer written the way our C++ client signs (host:PORT), node:crypto only. */
function part32Get(endpoint, reqPath, params, { secretKey = 'test', date = new Date() } = {}) {
  const url = new URL(endpoint);
  const stamp = amzDate(date);
  const query = clientQuery(params);
  const sha = (t) => crypto.createHash('sha256').update(t, 'utf8').digest('hex');
  const hmac = (key, t) => crypto.createHmac('sha256', key).update(t, 'utf8').digest();
  const canonicalHeaders = `content-type:${FORM_TYPE}\nhost:${url.host}\nx-amz-date:${stamp}\n`;
  const signedHeaders = 'content-type;host;x-amz-date';
  const canonicalRequest = `GET\n${reqPath}\n${query}\n${canonicalHeaders}\n${signedHeaders}\n${sha('')}`;
  const scope = `${stamp.slice(0, 8)}/us-east-1/sqs/aws4_request`;
  const stringToSign = `AWS4-HMAC-SHA256\n${stamp}\n${scope}\n${sha(canonicalRequest)}`;
  let key = Buffer.from(`AWS4${secretKey}`, 'utf8');
  for (const part of [stamp.slice(0, 8), 'us-east-1', 'sqs', 'aws4_request']) key = hmac(key, part);
  const signature = crypto.createHmac('sha256', key).update(stringToSign, 'utf8').digest('hex');
  return send(endpoint, {
    target: query ? `${reqPath}?${query}` : reqPath,
    headers: {
      Host: url.host,
      'Content-Type': FORM_TYPE,
      'X-Amz-Date': stamp,
      Authorization: `AWS4-HMAC-SHA256 Credential=test/${scope}, SignedHeaders=${signedHeaders}, Signature=${signature}`,
    },
  });
}

const tag = (xml, name) => {
  const m = new RegExp(`<${name}>([\\s\\S]*?)</${name}>`).exec(xml);
  return m ? m[1] : undefined;
};
const tags = (xml, name) => [...xml.matchAll(new RegExp(`<${name}>([\\s\\S]*?)</${name}>`, 'g'))].map((m) => m[1]);
const unescapeXml = (t) =>
  t.replace(/&quot;/g, '"').replace(/&apos;/g, "'").replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');

function assertError(answer, status, code, messageStart) {
  assert.equal(answer.status, status, answer.body);
  assert.match(answer.body, /^<\?xml version="1.0"\?><ErrorResponse xmlns="http:\/\/queue.amazonaws.com\/doc\/2012-11-05\/"><Error><Type>Sender<\/Type><Code>/);
  assert.equal(tag(answer.body, 'Code'), code);
  if (messageStart) assert.ok(unescapeXml(tag(answer.body, 'Message')).startsWith(messageStart), tag(answer.body, 'Message'));
  assert.match(answer.body, /<Detail\/><\/Error><RequestId>[0-9a-f-]{36}<\/RequestId><\/ErrorResponse>$/);
}

async function withFront(options, fn) {
  const front = createFront({ httpPort: 0, ...options });
  const endpoints = await front.listen();
  try {
    await fn(endpoints.http, front);
  } finally {
    await front.close();
  }
}

test('our signed GETs: list, create, send and receive through the queue path, delete', () =>
  withFront({}, async (ep) => {
    const port = new URL(ep).port;
    assert.notEqual(port, '80'); // a non-default port: the client signs host:PORT

    const list0 = await signedRequest(ep, [['Action', 'ListQueues']]);
    assert.equal(list0.status, 200, list0.body);
    assert.match(list0.headers['content-type'], /^text\/xml/);

    const name = uniqueName('our-get');
    const created = await signedRequest(ep, [['Action', 'CreateQueue'], ['QueueName', name]]);
    assert.equal(created.status, 200, created.body);
    const queueUrl = tag(created.body, 'QueueUrl');
    assert.equal(queueUrl, `${ep}/${ACCOUNT}/${name}`);

    const listed = await signedRequest(ep, [['Action', 'ListQueues'], ['QueueNamePrefix', name]]);
    assert.deepEqual(tags(listed.body, 'QueueUrl'), [queueUrl]);

    const sent = await signedRequest(ep, [['Action', 'SendMessage'], ['MessageBody', TRICKY_BODY]], {
      path: `/${ACCOUNT}/${name}/`,
    });
    assert.equal(sent.status, 200, sent.body);
    assert.equal(tag(sent.body, 'MD5OfMessageBody'), crypto.createHash('md5').update(TRICKY_BODY, 'utf8').digest('hex'));

    const received = await signedRequest(ep, [['Action', 'ReceiveMessage'], ['MaxNumberOfMessages', '10']], {
      path: `/${ACCOUNT}/${name}`,
    });
    assert.equal(received.status, 200, received.body);
    // The service escapes only '"' in bodies (a known quirk), so '&' arrives raw here.
    assert.equal(unescapeXml(tag(received.body, 'Body')), TRICKY_BODY);
    const handle = tag(received.body, 'ReceiptHandle');
    assert.ok(handle);

    const deleted = await signedRequest(ep, [['Action', 'DeleteMessage'], ['ReceiptHandle', handle]], { path: `/${ACCOUNT}/${name}/` });
    assert.equal(deleted.status, 200, deleted.body);
    const attrs = await signedRequest(
      ep,
      [['Action', 'GetQueueAttributes'], ['AttributeName.1', 'All']],
      { path: `/${ACCOUNT}/${name}/` },
    );
    assert.equal(attrs.status, 200, attrs.body);
    assert.match(attrs.body, /<Name>ApproximateNumberOfMessages<\/Name>\s*<Value>0<\/Value>/);

    // Endpoint-addressed, with the queue URL as a parameter.
    const byUrl = await signedRequest(ep, [['Action', 'GetQueueUrl'], ['QueueName', name]]);
    assert.equal(tag(byUrl.body, 'QueueUrl'), queueUrl);
    const gone = await signedRequest(ep, [['Action', 'DeleteQueue'], ['QueueUrl', queueUrl]]);
    assert.equal(gone.status, 200, gone.body);
    const missing = await signedRequest(ep, [['Action', 'GetQueueUrl'], ['QueueName', name]]);
    assert.equal(missing.status, 400);
    assert.equal(tag(missing.body, 'Code'), 'AWS.SimpleQueueService.NonExistentQueue');
  }));

test('a signer written as our client signs, with host:PORT, is accepted', () =>
  withFront({}, async (ep) => {
    const name = uniqueName('part32');
    const created = await part32Get(ep, '/', [['Action', 'CreateQueue'], ['QueueName', name]]);
    assert.equal(created.status, 200, created.body);
    const sent = await part32Get(ep, `/${ACCOUNT}/${name}/`, [['Action', 'SendMessage'], ['MessageBody', TRICKY_BODY]]);
    assert.equal(sent.status, 200, sent.body);
    const received = await part32Get(ep, `/${ACCOUNT}/${name}/`, [['Action', 'ReceiveMessage']]);
    assert.equal(unescapeXml(tag(received.body, 'Body')), TRICKY_BODY);
    const noQuery = await part32Get(ep, '/', []);
    assert.equal(noQuery.status, 400); // signed correctly, but no Action
    const wrong = await part32Get(ep, '/', [['Action', 'ListQueues']], { secretKey: 'nope' });
    assertError(wrong, 403, 'SignatureDoesNotMatch');
  }));

test('purge is instant and a deleted queue name can be used again at once', () =>
  withFront({}, async (ep) => {
    const name = uniqueName('purge');
    const qpath = `/${ACCOUNT}/${name}/`;
    await signedRequest(ep, [['Action', 'CreateQueue'], ['QueueName', name]]);
    for (const body of ['one', 'two']) {
      const sent = await signedRequest(ep, [['Action', 'SendMessage'], ['MessageBody', body]], { path: qpath });
      assert.equal(sent.status, 200, sent.body);
    }
    const purged = await signedRequest(ep, [['Action', 'PurgeQueue']], { path: qpath });
    assert.equal(purged.status, 200, purged.body);
    const after = await signedRequest(ep, [['Action', 'ReceiveMessage'], ['MaxNumberOfMessages', '10']], { path: qpath });
    assert.deepEqual(tags(after.body, 'Body'), []);
    // A message sent after the purge stays.
    await signedRequest(ep, [['Action', 'SendMessage'], ['MessageBody', 'three']], { path: qpath });
    const again = await signedRequest(ep, [['Action', 'PurgeQueue']], { path: qpath });
    assert.equal(again.status, 200, again.body);

    assert.equal((await signedRequest(ep, [['Action', 'DeleteQueue']], { path: qpath })).status, 200);
    const recreated = await signedRequest(ep, [['Action', 'CreateQueue'], ['QueueName', name]]);
    assert.equal(recreated.status, 200, recreated.body);
  }));

test('refusals, as AWS answers them', () =>
  withFront({}, async (ep) => {
    const list = [['Action', 'ListQueues']];
    const url = new URL(ep);

    assertError(
      await signedRequest(ep, list, { secretKey: 'wrong' }),
      403,
      'SignatureDoesNotMatch',
      'The request signature we calculated does not match the signature you provided.',
    );
    assertError(await send(ep, { target: '/?Action=ListQueues' }), 403, 'MissingAuthenticationToken');

    const skewed = new Date(Date.now() - 20 * 60 * 1000);
    assertError(await signedRequest(ep, list, { date: skewed }), 403, 'RequestTimeTooSkewed');
    const future = new Date(Date.now() + 20 * 60 * 1000);
    assertError(await signedRequest(ep, list, { date: future }), 403, 'RequestTimeTooSkewed');

    assertError(
      await signedRequest(ep, list, { region: 'eu-west-1' }),
      403,
      'SignatureDoesNotMatch',
      "Credential should be scoped to a valid region, not 'eu-west-1'.",
    );
    assertError(
      await signedRequest(ep, list, { service: 'sns' }),
      403,
      'SignatureDoesNotMatch',
      "Credential should be scoped to correct service: 'sqs'.",
    );
    assertError(await signedRequest(ep, list, { accessKey: 'AKIDUNKNOWN' }), 403, 'InvalidClientTokenId');

    // The Host line says host:PORT; a signature over the host alone does not match.
    assertError(await signedRequest(ep, list, { signedHost: url.hostname }), 403, 'SignatureDoesNotMatch');
    // A query changed after signing.
    assertError(
      await signedRequest(ep, [['Action', 'SendMessage'], ['MessageBody', 'a b']], {
        path: `/${ACCOUNT}/nowhere/`,
        mutateTarget: (t) => t.replace('a%20b', 'a%20c'),
      }),
      403,
      'SignatureDoesNotMatch',
    );
    // A '+' is a space to AWS: signing 'a b' and sending 'a+b' is the same request.
    const plus = await signedRequest(ep, [['Action', 'ListQueues'], ['QueueNamePrefix', 'a b']], {
      mutateTarget: (t) => t.replace('a%20b', 'a+b'),
    });
    assert.equal(plus.status, 200, plus.body);

    assertError(
      await signedRequest(ep, list, {
        mutateHeaders: (h) => {
          h.authorization = h.authorization.replace(/, Signature=[0-9a-f]+/, '');
        },
      }),
      400,
      'IncompleteSignature',
      "Authorization header requires 'Signature' parameter.",
    );
    assertError(
      await signedRequest(ep, list, {
        mutateHeaders: (h) => {
          h.authorization = h.authorization.replace('AWS4-HMAC-SHA256', 'AWS4-HMAC-SHA512');
        },
      }),
      400,
      'IncompleteSignature',
    );
    assertError(
      await signedRequest(ep, list, {
        mutateHeaders: (h) => {
          h.authorization = h.authorization.replace(/Credential=[^,]+/, 'Credential=test/us-east-1/sqs/aws4_request');
        },
      }),
      400,
      'IncompleteSignature',
      'Credential must have exactly 5 slash-delimited elements',
    );
    assertError(
      await signedRequest(ep, list, {
        mutateHeaders: (h) => {
          h['x-amz-security-token'] = 'unsigned';
        },
      }),
      400,
      'IncompleteSignature',
      "'X-Amz-Security-Token' must be a 'SignedHeader'",
    );
    // A signed session token of any value is accepted when none is configured.
    const withToken = await signedRequest(ep, list, { sessionToken: 'any-token' });
    assert.equal(withToken.status, 200, withToken.body);
  }));

test('a configured session token must be sent and signed', () =>
  withFront({ sessionToken: 'the-token' }, async (ep) => {
    const list = [['Action', 'ListQueues']];
    assert.equal((await signedRequest(ep, list, { sessionToken: 'the-token' })).status, 200);
    assertError(await signedRequest(ep, list, { sessionToken: 'other' }), 403, 'InvalidClientTokenId');
    assertError(await signedRequest(ep, list), 403, 'InvalidClientTokenId');
  }));

test('configured keys and region', () =>
  withFront({ accessKey: 'AKIDLOCAL', secretKey: 's3cr3t', region: 'eu-central-1' }, async (ep) => {
    const list = [['Action', 'ListQueues']];
    const ok = await signedRequest(ep, list, { accessKey: 'AKIDLOCAL', secretKey: 's3cr3t', region: 'eu-central-1' });
    assert.equal(ok.status, 200, ok.body);
    assertError(await signedRequest(ep, list, { region: 'eu-central-1' }), 403, 'InvalidClientTokenId');
    assertError(
      await signedRequest(ep, list, { accessKey: 'AKIDLOCAL', secretKey: 'test', region: 'eu-central-1' }),
      403,
      'SignatureDoesNotMatch',
    );
    assertError(
      await signedRequest(ep, list, { accessKey: 'AKIDLOCAL', secretKey: 's3cr3t' }),
      403,
      'SignatureDoesNotMatch',
      "Credential should be scoped to a valid region, not 'us-east-1'.",
    );
  }));

test('form POSTs as the AWS CLI and boto3 send them pass after the same check', () =>
  withFront({}, async (ep) => {
    const name = uniqueName('form');
    const created = await signedRequest(ep, [['Action', 'CreateQueue'], ['QueueName', name], ['Version', '2012-11-05']], {
      method: 'POST',
    });
    assert.equal(created.status, 200, created.body);
    const queueUrl = tag(created.body, 'QueueUrl');
    assert.equal(queueUrl, `${ep}/${ACCOUNT}/${name}`);
    const sent = await signedRequest(
      ep,
      [
        ['Action', 'SendMessage'],
        ['QueueUrl', queueUrl],
        ['MessageBody', TRICKY_BODY],
        ['MessageAttribute.1.Name', 'colour'],
        ['MessageAttribute.1.Value.DataType', 'String'],
        ['MessageAttribute.1.Value.StringValue', 'blue = 1 + 1'],
        ['Version', '2012-11-05'],
      ],
      { method: 'POST' },
    );
    assert.equal(sent.status, 200, sent.body);
    const received = await signedRequest(
      ep,
      [['Action', 'ReceiveMessage'], ['QueueUrl', queueUrl], ['MessageAttributeName.1', 'All'], ['Version', '2012-11-05']],
      { method: 'POST' },
    );
    assert.equal(unescapeXml(tag(received.body, 'Body')), TRICKY_BODY);
    assert.equal(tag(received.body, 'StringValue'), 'blue = 1 + 1');
    assertError(
      await signedRequest(ep, [['Action', 'ListQueues']], { method: 'POST', mutateBody: (b) => `${b}&QueueNamePrefix=x` }),
      403,
      'SignatureDoesNotMatch',
    );
  }));

test('JSON-protocol POSTs (newer AWS SDKs) pass and their queue URLs point at the front', () =>
  withFront({}, async (ep) => {
    const url = new URL(ep);
    const name = uniqueName('json');
    const call = async (target, payload) => {
      const body = JSON.stringify(payload);
      const signer = new SignatureV4({
        credentials: { accessKeyId: 'test', secretAccessKey: 'test' },
        region: 'us-east-1',
        service: 'sqs',
        sha256: Sha256,
      });
      const signed = await signer.sign(
        {
          method: 'POST',
          protocol: 'http:',
          hostname: url.hostname,
          port: Number(url.port),
          path: '/',
          headers: { 'content-type': 'application/x-amz-json-1.0', 'x-amz-target': `AmazonSQS.${target}`, host: url.host },
          body,
        },
        { signingDate: new Date() },
      );
      const answer = await send(ep, { method: 'POST', headers: signed.headers, body });
      return { status: answer.status, doc: JSON.parse(answer.body || '{}') };
    };
    const created = await call('CreateQueue', { QueueName: name });
    assert.equal(created.status, 200);
    assert.equal(created.doc.QueueUrl, `${ep}/${ACCOUNT}/${name}`);
    const listed = await call('ListQueues', { QueueNamePrefix: name });
    assert.deepEqual(listed.doc.QueueUrls, [`${ep}/${ACCOUNT}/${name}`]);
  }));

test('start.sh: test CA, HTTPS and HTTP endpoints on stdout, clean exit on SIGTERM', { timeout: 120000 }, async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'local-sqs-test-'));
  const certs = path.join(dir, 'certs');
  const child = spawn('bash', [path.join(__dirname, '..', 'start.sh'), '--certs', certs], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  try {
    const values = await new Promise((resolve, reject) => {
      let out = '';
      let err = '';
      child.stderr.on('data', (c) => (err += c));
      child.stdout.on('data', (c) => {
        out += c;
        if (/^LOCAL_SQS_READY=1$/m.test(out)) {
          resolve(Object.fromEntries(out.trim().split('\n').map((l) => [l.slice(0, l.indexOf('=')), l.slice(l.indexOf('=') + 1)])));
        }
      });
      child.on('exit', (code) => reject(new Error(`start.sh exited with ${code}: ${err}`)));
    });
    assert.match(values.LOCAL_SQS_HTTP, /^http:\/\/127\.0\.0\.1:\d+$/);
    assert.match(values.LOCAL_SQS_HTTPS, /^https:\/\/127\.0\.0\.1:\d+$/);
    assert.equal(values.LOCAL_SQS_CA, path.join(fs.realpathSync(certs), 'ca.pem'));
    const ca = fs.readFileSync(values.LOCAL_SQS_CA);

    const ep = values.LOCAL_SQS_HTTPS;
    const name = uniqueName('tls');
    const created = await signedRequest(ep, [['Action', 'CreateQueue'], ['QueueName', name]], { ca });
    assert.equal(created.status, 200, created.body);
    assert.equal(tag(created.body, 'QueueUrl'), `${ep}/${ACCOUNT}/${name}`);
    // The same service is behind both listeners; each answer names the listener asked.
    const viaHttp = await signedRequest(values.LOCAL_SQS_HTTP, [['Action', 'GetQueueUrl'], ['QueueName', name]]);
    assert.equal(tag(viaHttp.body, 'QueueUrl'), `${values.LOCAL_SQS_HTTP}/${ACCOUNT}/${name}`);
    // The certificate also names localhost.
    const local = ep.replace('127.0.0.1', 'localhost');
    const byName = await signedRequest(local, [['Action', 'GetQueueUrl'], ['QueueName', name]], { ca });
    assert.equal(tag(byName.body, 'QueueUrl'), `${local}/${ACCOUNT}/${name}`);
    await assert.rejects(signedRequest(ep, [['Action', 'ListQueues']]), /self[- ]signed|unable to (get|verify)/i);

    child.removeAllListeners('exit');
    const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
    child.kill('SIGTERM');
    assert.deepEqual(await exited, { code: 0, signal: null });
  } finally {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
