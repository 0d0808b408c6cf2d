#!/usr/bin/env python3
"""A small client of OBS Studio's obs-websocket (protocol 5, no
authentication), for the test scripts. Standard library only.

  obs-websocket-client.py --port PORT [--timeout S] COMMAND ...

  wait SECONDS            retry connecting until the server identifies us
  call TYPE [JSON]        one request; prints its responseData as JSON
  hotkeys                 prints the names of all hotkeys, one per line
  trigger NAME            TriggerHotkeyByName
  screenshot SOURCE FILE  saves a PNG of the source (with its filters)
  vendor TYPE [JSON]      CallVendorRequest to the vendor "tavimore"; prints
                          the vendor's own response as JSON
  listen FILE SECONDS     subscribes to vendor events and appends each
                          VendorEvent (vendorName, eventType, eventData) to
                          FILE as a JSON line, after a first line "ready",
                          for SECONDS

Exit status: 0 on success, 1 when OBS answers a request with a failure,
2 on a connection or protocol error; the reason goes to standard error.
"""
import argparse
import base64
import hashlib
import json
import os
import select
import socket
import struct
import sys
import time

WS_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
OP_HELLO, OP_IDENTIFY, OP_IDENTIFIED, OP_EVENT, OP_REQUEST, OP_RESPONSE = \
    0, 1, 2, 5, 6, 7
SUBSCRIBE_VENDORS = 1 << 9


class ProtocolError(Exception):
    pass


class RequestFailed(Exception):
    pass


class Connection:
    """One RFC 6455 connection, identified with obs-websocket."""

    def __init__(self, host, port, timeout, subscriptions=0):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.settimeout(timeout)
        self.buffer = b""
        self._handshake(host, port)
        hello = self._receive_message()
        if hello.get("op") != OP_HELLO:
            raise ProtocolError("expected Hello, got %r" % hello)
        if "authentication" in hello.get("d", {}):
            raise ProtocolError("the server asks for a password; "
                                "its AuthRequired must be false")
        self.send_message({"op": OP_IDENTIFY,
                           "d": {"rpcVersion": 1,
                                 "eventSubscriptions": subscriptions}})
        identified = self._receive_message()
        if identified.get("op") != OP_IDENTIFIED:
            raise ProtocolError("expected Identified, got %r" % identified)
        self.versions = hello["d"]
        self.next_id = 0

    def close(self):
        try:
            self._send_frame(0x8, struct.pack("!H", 1000))
        except OSError:
            pass
        self.sock.close()

    def request(self, request_type, data=None):
        self.next_id += 1
        request_id = str(self.next_id)
        body = {"requestType": request_type, "requestId": request_id}
        if data is not None:
            body["requestData"] = data
        self.send_message({"op": OP_REQUEST, "d": body})
        while True:  # events are not subscribed, but skip anything else
            message = self._receive_message()
            d = message.get("d", {})
            if message.get("op") == OP_RESPONSE and \
                    d.get("requestId") == request_id:
                break
        status = d.get("requestStatus", {})
        if not status.get("result"):
            raise RequestFailed("%s failed: code %s, %s" % (
                request_type, status.get("code"),
                status.get("comment", "no comment")))
        return d.get("responseData", {})

    def send_message(self, message):
        self._send_frame(0x1, json.dumps(message).encode())

    # ---- RFC 6455 framing
    def _handshake(self, host, port):
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((
            "GET / HTTP/1.1\r\nHost: %s:%d\r\nUpgrade: websocket\r\n"
            "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
            "Sec-WebSocket-Version: 13\r\n"
            "Sec-WebSocket-Protocol: obswebsocket.json\r\n\r\n" %
            (host, port, key)).encode())
        while b"\r\n\r\n" not in self.buffer:
            self._fill()
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        lines = head.decode("latin-1").split("\r\n")
        if " 101 " not in lines[0] + " ":
            raise ProtocolError("handshake refused: %s" % lines[0])
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        accept = base64.b64encode(
            hashlib.sha1((key + WS_GUID).encode()).digest()).decode()
        if headers.get("sec-websocket-accept") != accept:
            raise ProtocolError("handshake: wrong Sec-WebSocket-Accept")

    def _fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise ProtocolError("the server closed the connection")
        self.buffer += chunk

    def _take(self, n):
        while len(self.buffer) < n:
            self._fill()
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def _send_frame(self, opcode, payload):
        """A final frame, masked as every frame from a client must be."""
        n = len(payload)
        if n < 126:
            head = struct.pack("!BB", 0x80 | opcode, 0x80 | n)
        elif n < 65536:
            head = struct.pack("!BBH", 0x80 | opcode, 0x80 | 126, n)
        else:
            head = struct.pack("!BBQ", 0x80 | opcode, 0x80 | 127, n)
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(head + mask + masked)

    def _receive_frame(self):
        first, second = self._take(2)
        fin, opcode = first & 0x80, first & 0x0F
        n = second & 0x7F
        if n == 126:
            n = struct.unpack("!H", self._take(2))[0]
        elif n == 127:
            n = struct.unpack("!Q", self._take(8))[0]
        mask = self._take(4) if second & 0x80 else None
        payload = self._take(n)
        if mask:
            payload = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        return bool(fin), opcode, payload

    def _receive_message(self):
        """The next text message as JSON; answers pings on the way."""
        parts, opcode = [], None
        while True:
            fin, op, payload = self._receive_frame()
            if op == 0x8:
                raise ProtocolError("the server closed the connection: %r" %
                                    payload[2:].decode(errors="replace"))
            if op == 0x9:
                self._send_frame(0xA, payload)
                continue
            if op == 0xA:
                continue
            if op != 0x0:
                opcode = op
            parts.append(payload)
            if fin:
                break
        if opcode != 0x1:
            raise ProtocolError("expected a text message, got opcode %r" %
                                opcode)
        return json.loads(b"".join(parts).decode())


def listen_for_events(connection, path, seconds):
    """Writes every vendor event to path, one JSON line each."""
    deadline = time.monotonic() + seconds
    with open(path, "a") as out:
        out.write("ready\n")
        out.flush()
        try:
            while time.monotonic() < deadline:
                if not connection.buffer:
                    wait = max(0.05, min(1.0, deadline - time.monotonic()))
                    if not select.select([connection.sock], [], [], wait)[0]:
                        continue
                message = connection._receive_message()
                d = message.get("d", {})
                if message.get("op") == OP_EVENT and \
                        d.get("eventType") == "VendorEvent":
                    out.write(json.dumps(d.get("eventData", {}),
                                         sort_keys=True) + "\n")
                    out.flush()
        finally:
            connection.close()
    return 0


def main():
    parser = argparse.ArgumentParser(
        description="Talks to OBS Studio through obs-websocket 5.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--timeout", type=float, default=10.0,
                        help="seconds for each network operation")
    commands = parser.add_subparsers(dest="command", required=True)
    wait = commands.add_parser("wait")
    wait.add_argument("seconds", type=float)
    call = commands.add_parser("call")
    call.add_argument("type")
    call.add_argument("data", nargs="?")
    commands.add_parser("hotkeys")
    trigger = commands.add_parser("trigger")
    trigger.add_argument("name")
    shot = commands.add_parser("screenshot")
    shot.add_argument("source")
    shot.add_argument("file")
    vendor = commands.add_parser("vendor")
    vendor.add_argument("type")
    vendor.add_argument("data", nargs="?")
    listen = commands.add_parser("listen")
    listen.add_argument("file")
    listen.add_argument("seconds", type=float)
    args = parser.parse_args()

    def connect():
        return Connection(args.host, args.port, args.timeout)

    try:
        if args.command == "wait":
            deadline = time.monotonic() + args.seconds
            while True:
                try:
                    connection = connect()
                    break
                except (OSError, ProtocolError) as error:
                    if time.monotonic() >= deadline:
                        raise ProtocolError("no obs-websocket on port %d "
                                            "after %g s: %s" %
                                            (args.port, args.seconds, error))
                    time.sleep(0.2)
            print("obs-websocket %s, rpc %s" % (
                connection.versions.get("obsWebSocketVersion"),
                connection.versions.get("rpcVersion")))
            connection.close()
            return 0
        if args.command == "listen":
            return listen_for_events(Connection(
                args.host, args.port, args.timeout, SUBSCRIBE_VENDORS),
                args.file, args.seconds)
        connection = connect()
        try:
            if args.command == "call":
                data = json.loads(args.data) if args.data else None
                print(json.dumps(connection.request(args.type, data)))
            elif args.command == "vendor":
                body = {"vendorName": "tavimore", "requestType": args.type}
                if args.data:
                    body["requestData"] = json.loads(args.data)
                answer = connection.request("CallVendorRequest", body)
                print(json.dumps(answer["responseData"], sort_keys=True))
            elif args.command == "hotkeys":
                for name in connection.request("GetHotkeyList")["hotkeys"]:
                    print(name)
            elif args.command == "trigger":
                connection.request("TriggerHotkeyByName",
                                   {"hotkeyName": args.name})
            elif args.command == "screenshot":
                image = connection.request("GetSourceScreenshot", {
                    "sourceName": args.source, "imageFormat": "png"})
                uri = image["imageData"]
                prefix = "data:image/png;base64,"
                if not uri.startswith(prefix):
                    raise ProtocolError("not a PNG data URI: %.40r" % uri)
                with open(args.file, "wb") as out:
                    out.write(base64.b64decode(uri[len(prefix):]))
        finally:
            connection.close()
    except RequestFailed as error:
        print("obs-websocket: %s" % error, file=sys.stderr)
        return 1
    except (OSError, ProtocolError, ValueError, KeyError) as error:
        print("obs-websocket: %s: %s" % (type(error).__name__, error),
              file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
