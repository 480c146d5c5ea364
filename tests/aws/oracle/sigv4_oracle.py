#!/usr/bin/python3
"""Signature Version 4 oracle: signs requests with botocore's SigV4Auth.

Reads one JSON object per line from standard input:
  {"method", "url", "payload", "content_type", "time" (yyyymmddThhmmssZ),
   "access", "secret", "token" (may be empty), "region", "service",
   "protocol" ("http" or "mqtt")}
and writes for each one line: the Authorization header value botocore computes.

Before signing, the query is brought into the form a server checks: every parameter is
form-decoded, then re-encoded and the parameters sorted. botocore itself signs the query of
a URL as written, so this is the server's view of the request, not ours. For the MQTT
protocol the path is /mqtt and only the host header is signed.
"""

import datetime
import json
import sys
import types
from urllib.parse import parse_qsl, quote, urlsplit, urlunsplit

import botocore.auth
from botocore.auth import SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials


class _PinnedClock:
    """Stands in for the datetime module inside botocore.auth, so signing uses our time."""

    def __init__(self):
        self.now = None
        real = datetime

        class _DateTime(real.datetime):
            @classmethod
            def utcnow(cls):
                return clock.now

        self.datetime = _DateTime
        self.timedelta = real.timedelta


clock = _PinnedClock()
botocore.auth.datetime = clock


class MqttSigV4Auth(SigV4Auth):
    """SigV4 over the host header alone, as an MQTT connection signs it."""

    def headers_to_sign(self, request):
        all_headers = super().headers_to_sign(request)
        only_host = botocore.awsrequest.HTTPHeaders()
        only_host['host'] = all_headers['host']
        return only_host


def server_query(query):
    pairs = parse_qsl(query, keep_blank_values=True, encoding='utf-8', errors='replace')
    encoded = sorted((quote(k, safe='-_.~'), quote(v, safe='-_.~')) for k, v in pairs)
    return '&'.join(f'{k}={v}' for k, v in encoded)


def sign(req):
    clock.now = datetime.datetime.strptime(req['time'], '%Y%m%dT%H%M%SZ')
    parts = urlsplit(req['url'])
    path = '/mqtt' if req['protocol'] == 'mqtt' else parts.path
    url = urlunsplit((parts.scheme, parts.netloc, path, server_query(parts.query), ''))
    headers = {}
    if req['protocol'] != 'mqtt':
        headers['Content-Type'] = req['content_type']
    payload = req.get('payload', '').encode('utf-8')
    request = AWSRequest(method=req['method'], url=url, headers=headers, data=payload or None)
    credentials = Credentials(req['access'], req['secret'], req.get('token') or None)
    auth_class = MqttSigV4Auth if req['protocol'] == 'mqtt' else SigV4Auth
    auth_class(credentials, req['service'], req['region']).add_auth(request)
    return request.headers['Authorization']


def main():
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        sys.stdout.write(sign(json.loads(line)) + '\n')
        sys.stdout.flush()


if __name__ == '__main__':
    main()
