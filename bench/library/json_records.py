# The JSON text of the generated records the json_* benchmarks read (the
# same records their Kiv scripts build): BENCH_RECORDS of them, 200,000 by
# default (about 20 MB).
import os


def records_text():
    parts = []
    for i in range(1, int(os.environ.get("BENCH_RECORDS", 200000)) + 1):
        parts.append('{"item": %d, "name": "entry number %d", "count": %d, "ratio": %r, '
                     '"tags": ["alpha", "beta", "gamma"], "flag": true}' % (i, i, i, i / 8.0))
    return "[" + ",\n".join(parts) + "]"
