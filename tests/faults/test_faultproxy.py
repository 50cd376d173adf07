#!/usr/bin/env python3
"""Which requests a fault rule picks: a rule that picks the wrong ones makes a scenario test nothing.  And the
ports the scenarios take: two scenarios run at once (ctest -j) must never be handed the same one."""

import os
import sys
import unittest
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from faultproxy import Rule  # noqa: E402
import run_faults  # noqa: E402

BLOCK = "/devstoreaccount1/c/t%2Fbig.bin?comp=block&blockid=AAAA"
LIST = "/devstoreaccount1/c/t%2Fbig.bin?comp=blocklist"
GET = "/devstoreaccount1/c/t%2Fbig.bin"
OTHER_BLOCK = "/devstoreaccount1/c/t%2Fmid.bin?comp=block&blockid=BBBB"


class RuleTest(unittest.TestCase):
    def test_picks(self):
        # rule, requests in order, which of them are faulted
        cases = [
            ("kind=503,match=put-block", [("PUT", BLOCK)] * 3, [True, False, False]),
            ("kind=503,match=put-block,skip=2,count=0", [("PUT", BLOCK)] * 4, [False, False, True, True]),
            ("kind=flip,match=put-block,every=2,count=0", [("PUT", BLOCK)] * 5, [True, False, True, False, True]),
            ("kind=500,match=put-block", [("PUT", LIST), ("GET", GET), ("PUT", BLOCK)], [False, False, True]),
            ("kind=500,match=put-blocklist", [("PUT", BLOCK), ("PUT", LIST)], [False, True]),
            ("kind=429,match=get-range", [("GET", LIST), ("HEAD", GET), ("GET", GET)], [False, False, True]),
            ("kind=503,match=put-block,path=big.bin,skip=1",
             [("PUT", OTHER_BLOCK), ("PUT", BLOCK), ("PUT", OTHER_BLOCK), ("PUT", BLOCK)],
             [False, False, False, True]),
        ]
        for text, requests, expected in cases:
            with self.subTest(rule=text):
                rule = Rule(text)
                self.assertEqual([rule.pick(m, p) for m, p in requests], expected)

    def test_toxic_items_keep_their_commas(self):
        text = 'kind=toxic,proxy=link,toxic={"type":"timeout","attributes":{"timeout":0,"x":1}},for=2'
        self.assertEqual(Rule(text).toxic["attributes"], {"timeout": 0, "x": 1})

    def test_bad_rules_are_refused(self):
        for text in ("kind=404", "kind=503,colour=red", "kind=toxic,proxy=link", "match=any"):
            with self.subTest(rule=text), self.assertRaises(ValueError):
                Rule(text)


class PortTest(unittest.TestCase):
    def test_a_held_port_is_passed_over(self):
        # Each reservation is an flock on a file of its own opening, so a second one in this process meets the
        # first as a scenario beside it would; nothing listens on the held port, so only the lock can refuse it.
        held = []
        taken, spare = run_faults.reserve_port(held), run_faults.reserve_port(held)
        held.pop().close()
        with mock.patch.object(run_faults.random, "randrange", side_effect=[taken, taken, spare]):
            self.assertEqual(run_faults.reserve_port(held), spare)
        for lock in held:
            lock.close()


if __name__ == "__main__":
    unittest.main()
