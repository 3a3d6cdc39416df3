#!/usr/bin/env python3
"""Runs pelmark-flash --json against the virtual device and checks every
event line against cli/events.schema.json: once for an update that succeeds,
once for a search that finds nothing."""
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

flash, devsim, schema_path = sys.argv[1:4]
validator = jsonschema.Draft202012Validator(json.load(open(schema_path)))


def run(args, device_args):
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, PELMARK_PORT_DIR=os.path.join(work, "ports"))
        os.mkdir(env["PELMARK_PORT_DIR"])
        dev = subprocess.Popen([devsim, "--chip", "0x48", "--com", "auto"] + device_args,
                               stdout=subprocess.PIPE, text=True, env=env)
        dev.stdout.readline()
        com = dev.stdout.readline().strip()
        try:
            out = subprocess.run([flash, "--port", com, "--json"] + args, capture_output=True,
                                 env=env, timeout=120).stdout
        finally:
            dev.terminate()
            dev.wait()
    events = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    for event in events:
        validator.validate(event)
    return events


ok = run(["--front-end", "main"], [])
assert ok[0]["event"] == "start" and ok[-1]["event"] == "end", (ok[0], ok[-1])
outcome = [e for e in ok if e["event"] == "outcome"]
assert len(outcome) == 1 and outcome[0]["success"] and outcome[0]["frames"] > 0, outcome
assert any(e["event"] == "identity" and e["chip"] == 0x48 for e in ok)

lost = run(["--front-end", "main"], ["--search-bytes", "none"])
outcome = [e for e in lost if e["event"] == "outcome"]
assert len(outcome) == 1 and not outcome[0]["success"], outcome
assert outcome[0]["hint"] and outcome[0]["hint"].startswith("hint: no byte came back"), outcome
print("events: %d and %d, all valid" % (len(ok), len(lost)))
