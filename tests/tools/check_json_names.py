# Checks the field names of JSON documents (one per line, or one whole file each):
# check_json_names.py FILE...; every name is snake_case, or a former camelCase name given beside
# its snake_case one with the same value. Exit 0 when every file holds at least one object.
import json, re, sys

SNAKE = re.compile(r"^[a-z][a-z0-9]*(_[a-z0-9]+)*$")

def snake_of(name):
    return re.sub(r"([A-Z])", lambda m: "_" + m.group(1).lower(), name)

def check(value, where):
    if isinstance(value, list):
        for item in value:
            check(item, where)
    elif isinstance(value, dict):
        for name, field in value.items():
            if not SNAKE.match(name):
                snake = snake_of(name)
                if snake not in value or value[snake] != field:
                    sys.exit("%s: %r is neither snake_case nor beside %r with its value" % (where, name, snake))
            check(field, where)

for path in sys.argv[1:]:
    text = open(path).read()
    try:
        documents = [json.loads(text)]
    except json.JSONDecodeError:
        documents = [json.loads(line) for line in text.splitlines() if line.strip()]
    if not documents:
        sys.exit("%s: no JSON" % path)
    for n, document in enumerate(documents, 1):
        check(document, "%s:%d" % (path, n))
print("names checked")
