# SPDX-License-Identifier: Apache-2.0
# What the Python tests share.


def raises(kind, words, call, *args, **kwargs):
    """Fails unless call(*args, **kwargs) raises `kind` with every one of `words` in its text."""
    try:
        call(*args, **kwargs)
    except kind as e:
        for w in words:
            assert w in str(e), f"{w!r} not in {e!r}"
        return
    raise AssertionError(f"{call} did not raise {kind.__name__}")
