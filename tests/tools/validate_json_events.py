# Validates each line of a zandor --json output file against the events schema:
# validate_json_events.py SCHEMA FILE; exit 0 when every line is valid and there is at least one.
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
v = jsonschema.Draft202012Validator(schema)
n = 0
for i, line in enumerate(open(sys.argv[2]), 1):
    errors = list(v.iter_errors(json.loads(line)))
    if errors:
        print("line %d: %s: %s" % (i, line.strip()[:120], errors[0].message[:200])); sys.exit(1)
    n += 1
print("%d events valid" % n)
sys.exit(0 if n > 0 else 1)
