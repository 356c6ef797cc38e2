"""A client's test with kesmar: the fixture in conftest.py starts it."""
from sample_client import pattern, receive


def test_client_gets_the_pattern_once_a_period(kesmar):
    kesmar.ctl("period", "10")
    kesmar.ctl("send", "on")
    assert receive(pattern(kesmar.test_txt), period_ms=10) > 0
    log = kesmar.ctl("log").splitlines()
    assert log[0].startswith("Accept requestID = 1 ")
    assert any(line.startswith("Send ") for line in log)
