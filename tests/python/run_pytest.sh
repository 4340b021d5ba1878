#!/bin/sh
# Runs the Python package's tests with the first Python 3 that has pytest
# ($PYTHON, python3 on the path, the system's /usr/bin/python3); exit 77
# (skipped) when there is none. The library paths come from the
# environment CTest sets.
for python in ${PYTHON:-} python3 /usr/bin/python3; do
  if "$python" -c "import pytest" >/dev/null 2>&1; then
    cd "$(dirname "$0")/../../python" || exit 1
    exec "$python" -m pytest -p no:cacheprovider -q "$@" tests
  fi
done
echo "no Python 3 with pytest (Debian: python3-pytest): skipped"
exit 77
