// What the canned SQS server cannot do in its configuration alone.
//
// answer: find the action of a request sent as a form (boto3 posts every request so, and our
// client posts a request whose URL would be too long), which is in the body. Most actions get
// the same canned answer a GET with that action gets; a SendMessageBatch is answered here.
//
// sendMessageBatch: a batch of varied messages cannot have a fixed answer, since each entry's
// answer carries the MD5 of that entry's body and message attributes. It is computed per
// request, from the form (POST body or GET query) or from the JSON protocol's body, so that
// every client's integrity checks run and pass.
const crypto = require('crypto');

// A message id of the usual shape, distinct per entry for the life of the server (each request
// runs in a fresh script context, so the count comes from the connection and its requests).
function messageId(r, n) {
  const hex = (v, width) => Number(v).toString(16).padStart(width, '0');
  return '0d3f2e9c-' + hex(r.variables.connection, 8).substring(0, 4) + '-4' +
    hex(r.variables.connection, 8).substring(4, 7) + '-8' + hex(n, 3) + '-' +
    hex(r.variables.connection_requests, 12);
}

function md5(bytes) {
  return crypto.createHash('md5').update(bytes).digest('hex');
}

function lengthAndBytes(parts, bytes) {
  const length = Buffer.alloc(4);
  length.writeUInt32BE(bytes.length, 0);
  parts.push(length, bytes);
}

// The service's digest of message attributes: names in byte order, each as length-prefixed
// name, data type, a transport byte (1 text, 2 binary) and length-prefixed value.
function attributesMD5(attributes) {
  if (attributes.length == 0) return '';
  const sorted = attributes.slice().sort((a, b) => {
    const x = Buffer.from(a.name), y = Buffer.from(b.name);
    return Buffer.compare(x, y);
  });
  const parts = [];
  sorted.forEach((a) => {
    lengthAndBytes(parts, Buffer.from(a.name));
    lengthAndBytes(parts, Buffer.from(a.type));
    const binary = a.type == 'Binary' || a.type.startsWith('Binary.');
    parts.push(Buffer.from([binary ? 2 : 1]));
    lengthAndBytes(parts, binary ? Buffer.from(a.value, 'base64') : Buffer.from(a.value));
  });
  return md5(Buffer.concat(parts));
}

function xmlText(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

// The entries of a query-protocol batch, in entry-number order, from the form's text.
function formEntries(text) {
  const entries = [];
  const prefix = 'SendMessageBatchRequestEntry.';
  const decode = (v) => decodeURIComponent(v.indexOf('+') < 0 ? v : v.replace(/\+/g, ' '));
  text.split('&').forEach((pair) => {
    if (!pair.startsWith(prefix)) return;
    const equals = pair.indexOf('=');
    const key = pair.substring(prefix.length, equals < 0 ? pair.length : equals);
    const value = equals < 0 ? '' : decode(pair.substring(equals + 1));
    const dot = key.indexOf('.');
    if (dot < 0) return;
    const n = Number(key.substring(0, dot));
    const field = key.substring(dot + 1);
    const entry = entries[n] || (entries[n] = { id: '', body: '', attributes: [] });
    if (field == 'Id') {
      entry.id = value;
    } else if (field == 'MessageBody') {
      entry.body = value;
    } else if (field.startsWith('MessageAttribute.')) {
      // MessageAttribute.M.Name, .Value.DataType, .Value.StringValue, .Value.BinaryValue
      const parts = field.split('.');
      const m = Number(parts[1]);
      const a = entry.attributes[m] || (entry.attributes[m] = { name: '', type: '', value: '' });
      if (parts[2] == 'Name') a.name = value;
      else if (parts[3] == 'DataType') a.type = value;
      else if (parts[3] == 'StringValue' || parts[3] == 'BinaryValue') a.value = value;
    }
  });
  return entries.filter((e) => e !== undefined).map((e) => {
    e.attributes = e.attributes.filter((a) => a !== undefined);
    return e;
  });
}

function jsonEntries(request) {
  return (request.Entries || []).map((e) => ({
    id: e.Id || '', body: e.MessageBody || '',
    attributes: Object.keys(e.MessageAttributes || {}).map((name) => {
      const v = e.MessageAttributes[name];
      return { name: name, type: v.DataType || '',
               value: v.StringValue !== undefined ? v.StringValue : (v.BinaryValue || '') };
    }),
  }));
}

function batchXML(r, entries) {
  let xml = '<?xml version="1.0"?><SendMessageBatchResponse xmlns="http://queue.amazonaws.com/doc/2012-11-05/"><SendMessageBatchResult>';
  entries.forEach((e, n) => {
    const attributes = attributesMD5(e.attributes);
    xml += '<SendMessageBatchResultEntry><Id>' + xmlText(e.id) + '</Id><MessageId>' + messageId(r, n) +
      '</MessageId><MD5OfMessageBody>' + md5(e.body) + '</MD5OfMessageBody>' +
      (attributes ? '<MD5OfMessageAttributes>' + attributes + '</MD5OfMessageAttributes>' : '') +
      '</SendMessageBatchResultEntry>';
  });
  return xml + '</SendMessageBatchResult><ResponseMetadata><RequestId>b17d6c30-e4f5-4091-9c8d-7e6f8091a2b3</RequestId></ResponseMetadata></SendMessageBatchResponse>';
}

function batchJSON(r, entries) {
  return JSON.stringify({
    Successful: entries.map((e, n) => {
      const answer = { Id: e.id, MessageId: messageId(r, n), MD5OfMessageBody: md5(e.body) };
      const attributes = attributesMD5(e.attributes);
      if (attributes) answer.MD5OfMessageAttributes = attributes;
      return answer;
    }),
  });
}

function sendXML(r, text) {
  r.headersOut['Content-Type'] = 'text/xml';
  r.return(200, batchXML(r, formEntries(text)));
}

// A SendMessageBatch sent as a GET (the entries are in the query, which the rewrite to this
// location dropped: they are taken from the request line) or in the JSON protocol.
function sendMessageBatch(r) {
  if (r.headersIn['X-Amz-Target']) {
    r.headersOut['Content-Type'] = 'application/x-amz-json-1.0';
    r.return(200, batchJSON(r, jsonEntries(JSON.parse(r.requestText || '{}'))));
    return;
  }
  const uri = r.variables.request_uri;
  const query = uri.indexOf('?');
  sendXML(r, query < 0 ? '' : uri.substring(query + 1));
}

function answer(r) {
  const body = r.requestText || '';
  const action = /(?:^|&)Action=([A-Za-z]+)(?:&|$)/.exec(body);
  if (action && action[1] == 'SendMessageBatch') {
    sendXML(r, body);
    return;
  }
  r.internalRedirect('/query/' + (action ? action[1] : ''));
}

export default { answer, sendMessageBatch };
