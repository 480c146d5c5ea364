'use strict';
// Checks an AWS Signature Version 4 `Authorization` header the way AWS's front
// ends do, with AWS's own JavaScript signer (@smithy/signature-v4) computing
// the canonical request, the string to sign, the signing key and the signature.
//
// The signer is used piece by piece rather than through `sign()`, because
// `sign()` decides itself which headers to sign (it always adds x-amz-date and
// drops a `date` header), while a verifier must sign exactly the headers the
// client named in SignedHeaders, with the values it received.

const crypto = require('node:crypto');
const { Sha256 } = require('@aws-crypto/sha256-js');
const {
  SignatureV4,
  getCanonicalHeaders,
  getPayloadHash,
} = require('@smithy/signature-v4');

const ALGORITHM = 'AWS4-HMAC-SHA256';
const TERMINATOR = 'aws4_request';
const SIGNATURE_MISMATCH_TEXT =
  'The request signature we calculated does not match the signature you provided. ' +
  'Check your AWS Secret Access Key and signing method. Consult the service documentation for details.';

/** An authentication failure, with the HTTP status and the AWS error code to answer with. */
class AuthError extends Error {
  constructor(status, code, message) {
    super(message);
    this.status = status;
    this.code = code;
  }
}

const incomplete = (message) => new AuthError(400, 'IncompleteSignature', message);
const mismatch = (message) => new AuthError(403, 'SignatureDoesNotMatch', message);

/**
 * Percent-decodes one query component as AWS's Query front ends read it:
 * '+' is a space, %XX is a byte, bytes are UTF-8. A '%' that starts no valid
 * escape stays a literal '%'.
 */
function decodeComponent(text) {
  const s = text.replace(/\+/g, ' ');
  if (!s.includes('%')) return s;
  const bytes = [];
  for (let i = 0; i < s.length; ) {
    const c = s.charCodeAt(i);
    if (c === 0x25 && /^[0-9A-Fa-f]{2}$/.test(s.slice(i + 1, i + 3))) {
      bytes.push(parseInt(s.slice(i + 1, i + 3), 16));
      i += 3;
    } else {
      // Copy one code point as its UTF-8 bytes.
      const cp = s.codePointAt(i);
      const ch = String.fromCodePoint(cp);
      for (const b of Buffer.from(ch, 'utf8')) bytes.push(b);
      i += ch.length;
    }
  }
  return Buffer.from(bytes).toString('utf8');
}

/** Splits a raw query string into decoded [name, value] pairs, in order. */
function parseQuery(rawQuery) {
  const pairs = [];
  if (!rawQuery) return pairs;
  for (const part of rawQuery.split('&')) {
    if (part === '') continue;
    const eq = part.indexOf('=');
    const name = eq < 0 ? part : part.slice(0, eq);
    const value = eq < 0 ? '' : part.slice(eq + 1);
    pairs.push([decodeComponent(name), decodeComponent(value)]);
  }
  return pairs;
}

/** The query as the smithy signer takes it: name -> value, or -> values when repeated. */
function queryObject(pairs) {
  const query = Object.create(null);
  for (const [name, value] of pairs) {
    if (!(name in query)) query[name] = value;
    else if (Array.isArray(query[name])) query[name].push(value);
    else query[name] = [query[name], value];
  }
  return query;
}

/** Parses the components after the algorithm name: Credential, SignedHeaders, Signature. */
function parseAuthorization(header) {
  const m = /^(\S+)(?:\s+([\s\S]*))?$/.exec(header.trim());
  if (!m) throw incomplete(`Authorization header requires 'Credential' parameter. Authorization=${header}`);
  const algorithm = m[1];
  if (algorithm !== ALGORITHM) {
    throw incomplete(`Unsupported AWS 'algorithm': '${algorithm}'. Only '${ALGORITHM}' is accepted.`);
  }
  const fields = Object.create(null);
  for (const raw of (m[2] || '').split(',')) {
    const item = raw.trim();
    if (item === '') continue;
    const eq = item.indexOf('=');
    if (eq < 0) {
      throw incomplete(
        `'${item}' not a valid key=value pair (missing equal-sign) in Authorization header: '${header}'.`,
      );
    }
    fields[item.slice(0, eq).trim()] = item.slice(eq + 1).trim();
  }
  return fields;
}

/** Formats a Date as the SigV4 long date, yyyymmddThhmmssZ. */
function longDateOf(date) {
  return date.toISOString().replace(/\.\d{3}Z$/, 'Z').replace(/[-:]/g, '');
}

/** Parses a SigV4 long date, yyyymmddThhmmssZ, into a Date (or null). */
function parseLongDate(text) {
  const m = /^(\d{4})(\d{2})(\d{2})T(\d{2})(\d{2})(\d{2})Z$/.exec(text);
  if (!m) return null;
  const ms = Date.UTC(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]);
  const d = new Date(ms);
  return longDateOf(d) === text ? d : null;
}

/** One received header as SigV4 canonicalises it: each value trimmed, repeated values joined by ','. */
function headerValue(headersDistinct, name) {
  const values = headersDistinct[name];
  if (!values) return undefined;
  return values.map((v) => v.trim()).join(',');
}

/**
 * Makes a checker for one configured identity.
 * options: accessKey, secretKey, region, service ('sqs'), sessionToken (optional;
 * when set, requests must carry exactly this token), maxSkewSeconds (900), now (clock).
 */
function createChecker(options) {
  const service = options.service || 'sqs';
  const region = options.region;
  const maxSkewMs = (options.maxSkewSeconds ?? 900) * 1000;
  const now = options.now || (() => Date.now());

  /**
   * Checks one request. request: { method, path (raw, as received), rawQuery
   * (raw, without '?'), headersDistinct (Node's lower-case name -> values), body (Buffer) }.
   * Returns { accessKey } on success, throws AuthError otherwise.
   */
  async function check(request) {
    const headers = request.headersDistinct;
    const authValues = headers.authorization;
    if (!authValues || authValues.length === 0) {
      throw new AuthError(403, 'MissingAuthenticationToken', 'Request is missing Authentication Token');
    }
    if (authValues.length > 1) throw incomplete('Multiple Authorization headers are not allowed.');
    const authorization = authValues[0];
    const fields = parseAuthorization(authorization);

    // Every missing part is reported in one message, as AWS does.
    const problems = [];
    for (const name of ['Credential', 'Signature', 'SignedHeaders']) {
      if (!fields[name]) problems.push(`Authorization header requires '${name}' parameter.`);
    }
    const amzDate = headerValue(headers, 'x-amz-date');
    const httpDate = headerValue(headers, 'date');
    if (amzDate === undefined && httpDate === undefined) {
      problems.push("Authorization header requires existence of either a 'X-Amz-Date' or a 'Date' header.");
    }
    if (problems.length) throw incomplete(`${problems.join(' ')} Authorization=${authorization}`);

    let requestDate;
    let longDate;
    if (amzDate !== undefined) {
      requestDate = parseLongDate(amzDate);
      longDate = amzDate;
      if (!requestDate) {
        throw incomplete(
          `Date must be in ISO-8601 'basic format'. Got '${amzDate}'. See http://en.wikipedia.org/wiki/ISO_8601`,
        );
      }
    } else {
      const ms = Date.parse(httpDate);
      if (Number.isNaN(ms)) {
        throw incomplete(`Date must be in RFC 1123 format or ISO-8601 'basic format'. Got '${httpDate}'.`);
      }
      requestDate = new Date(Math.floor(ms / 1000) * 1000);
      longDate = longDateOf(requestDate);
    }

    const credential = fields.Credential.split('/');
    if (credential.length !== 5) {
      throw incomplete(
        'Credential must have exactly 5 slash-delimited elements, e.g. keyid/date/region/service/term, ' +
          `got '${fields.Credential}'`,
      );
    }
    const [accessKey, scopeDate, scopeRegion, scopeService, terminator] = credential;

    const signedHeaders = fields.SignedHeaders.split(';');
    if (!signedHeaders.includes('host') && !signedHeaders.includes(':authority')) {
      throw incomplete("'Host' or ':authority' must be a 'SignedHeader' in the AWS Authorization.");
    }
    const token = headerValue(headers, 'x-amz-security-token');
    if (token !== undefined && !signedHeaders.includes('x-amz-security-token')) {
      throw incomplete("'X-Amz-Security-Token' must be a 'SignedHeader' in the AWS Authorization.");
    }

    if (scopeDate !== longDate.slice(0, 8)) {
      throw mismatch(
        'Date in Credential scope does not match YYYYMMDD from ISO-8601 version of date from HTTP: ' +
          `'${scopeDate}' != '${longDate.slice(0, 8)}', from '${longDate}'.`,
      );
    }
    if (scopeRegion !== region) {
      throw mismatch(`Credential should be scoped to a valid region, not '${scopeRegion}'. `);
    }
    if (scopeService !== service) {
      throw mismatch(`Credential should be scoped to correct service: '${service}'. `);
    }
    if (terminator !== TERMINATOR) {
      throw mismatch(`Credential should be scoped with a valid terminator: '${TERMINATOR}', not '${terminator}'. `);
    }
    if (accessKey !== options.accessKey) {
      throw new AuthError(403, 'InvalidClientTokenId', 'The security token included in the request is invalid.');
    }
    if (options.sessionToken && token !== options.sessionToken) {
      throw new AuthError(403, 'InvalidClientTokenId', 'The security token included in the request is invalid.');
    }

    const skew = requestDate.getTime() - now();
    if (Math.abs(skew) > maxSkewMs) {
      throw new AuthError(
        403,
        'RequestTimeTooSkewed',
        'The difference between the request time and the current time is too large. ' +
          `Request time ${longDate}, server time ${longDateOf(new Date(now()))}, ` +
          `allowed skew ${maxSkewMs / 60000} minutes.`,
      );
    }

    // The headers the client signed, with the values received (host exactly
    // as the Host line carried it, port included).
    const signed = Object.create(null);
    for (const name of signedHeaders) signed[name] = headerValue(headers, name) ?? '';
    const signer = new SignatureV4({
      credentials: { accessKeyId: accessKey, secretAccessKey: options.secretKey },
      region,
      service,
      sha256: Sha256,
      applyChecksum: false,
      uriEscapePath: true,
    });
    const canonicalHeaders = getCanonicalHeaders({ headers: signed }, undefined, new Set(signedHeaders));
    const body = request.body && request.body.length ? request.body : undefined;
    const payloadHash = await getPayloadHash({ headers: {}, body }, Sha256);
    const canonicalRequest = signer.createCanonicalRequest(
      { method: request.method, path: request.path, query: queryObject(parseQuery(request.rawQuery)) },
      canonicalHeaders,
      payloadHash,
    );
    const scope = `${scopeDate}/${scopeRegion}/${scopeService}/${TERMINATOR}`;
    const stringToSign = await signer.createStringToSign(longDate, scope, canonicalRequest, ALGORITHM);
    const expected = await signer.getSignature(
      longDate,
      scope,
      signer.getSigningKey({ accessKeyId: accessKey, secretAccessKey: options.secretKey }, region, scopeDate, service),
      canonicalRequest,
    );
    const given = Buffer.from(fields.Signature, 'utf8');
    const wanted = Buffer.from(expected, 'utf8');
    if (given.length !== wanted.length || !crypto.timingSafeEqual(given, wanted)) {
      throw mismatch(
        `${SIGNATURE_MISMATCH_TEXT}\n\nThe Canonical String for this request should have been\n'${canonicalRequest}'\n\n` +
          `The String-to-Sign should have been\n'${stringToSign}'\n`,
      );
    }
    return { accessKey };
  }

  return { check };
}

module.exports = { AuthError, createChecker, parseQuery, decodeComponent, parseLongDate, longDateOf };
