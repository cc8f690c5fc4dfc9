"""The bridge run as a CGI/1.1 server runs it, without a server: with
whirlo32, and with small fake Windows CGI programs that show what the bridge
hands over or misbehave on purpose."""

import json
import os
import shutil
import subprocess
import time
import unittest

from bridge_env import (FAKES, MOZILLA, QUERIES, Tree, assert_paced, body_of,
                        bridge, process_gone, wait_until)


class BridgeTest(unittest.TestCase):
    viewers = "Mozilla"

    def setUp(self):
        self.tree = Tree(self.viewers)
        self.addCleanup(self.tree.remove)

    def install_fake(self, fake, name):
        """Installs a fake program as `name` with the bridge as name.cgi."""
        shutil.copy(os.path.join(FAKES, fake), os.path.join(self.tree.cgi, name))
        os.chmod(os.path.join(self.tree.cgi, name), 0o755)
        self.tree.install(bridge(), name + ".cgi")
        return name + ".cgi"

    def start_bridge(self, script, env):
        """The bridge running as a server runs it, its output a pipe."""
        return subprocess.Popen([os.path.join(self.tree.cgi, script)], cwd=self.tree.cgi,
                                env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)

    def assert_clean(self):
        self.assertEqual(self.tree.leftovers(), [], "temporary folder not removed")

    def assert_ended(self, fake):
        """The fake program that wrote its process id to fake.pid has ended."""
        with open(os.path.join(self.tree.cgi, fake + ".pid")) as handle:
            pid = int(handle.read())
        self.assertTrue(wait_until(lambda: process_gone(pid)), "%s still runs" % fake)


class RelaysWhirlo32(BridgeTest):
    def test_nph_sends_exactly_what_the_program_wrote(self):
        for query in QUERIES:
            for agent in (MOZILLA, "Lynx/2.8.9"):
                with self.subTest(query=query, agent=agent):
                    out, _, code = self.tree.run_bridge(
                        env=self.tree.cgi_env(query, agent))
                    expected = self.tree.direct_output(query, agent)
                    self.assertTrue(expected.startswith(b"HTTP/1.0 200 OK\n"))
                    self.assertEqual(out, expected)
                    self.assertEqual(code, 0)
        self.assert_clean()

    def test_cgi_mode_turns_the_status_line_into_headers(self):
        for query in QUERIES:
            with self.subTest(query=query):
                out, _, _ = self.tree.run_bridge("whirlo32.cgi",
                                                 self.tree.cgi_env(query))
                expected = self.tree.direct_output(query)
                self.assertTrue(out.startswith(b"Status: 200 OK\r\nContent-type: "))
                self.assertEqual(body_of(out), body_of(expected))
        self.assert_clean()

    def test_refused_referer_gets_an_error_answer_and_a_log_line(self):
        self.tree.write("cgi-bin/pelk.ini", "[Whirl]\nAllow Only=example.org\n")
        env = self.tree.cgi_env(HTTP_REFERER="http://elsewhere.test/")
        out, log, code = self.tree.run_bridge("whirlo32.cgi", env)
        self.assertTrue(out.startswith(b"Status: 502 Bad Gateway\r\n"), out)
        self.assertIn("exit code 209", log)  # 2001 seen modulo 256
        self.assertEqual(code, 1)
        self.assert_clean()

    def test_paced_parts_arrive_no_faster_than_the_interval(self):
        env = self.tree.cgi_env(WINCGI_FRAME_INTERVAL="100")
        started = time.monotonic()
        bridge = self.start_bridge("nph-whirlo32.cgi", env)
        received, arrivals = b"", []
        try:
            while True:
                chunk = bridge.stdout.read1(65536)
                if not chunk:
                    break
                received += chunk
                # The header's empty line is followed by a boundary line too.
                while received.count(b"\n--sometext\n") - 1 > len(arrivals):
                    arrivals.append(time.monotonic())
        finally:
            bridge.stdout.close()
            bridge.wait(timeout=30)
        self.assertEqual(received, self.tree.direct_output(""))
        assert_paced(self, started, arrivals, 0.1)
        self.assert_clean()


class HandsOverTheRequest(BridgeTest):
    def run_echo(self, **extra):
        script = self.install_fake("echo_request.py", "echo")
        body = extra.pop("body", b"")
        out, log, _ = self.tree.run_bridge(script, self.tree.cgi_env(**extra), body)
        self.assertTrue(out.startswith(b"Content-type: application/json\r\n\r\n"),
                        out[:200] + log.encode())
        return json.loads(body_of(out))

    def test_data_file_words_body_and_folder(self):
        seen = self.run_echo(query="a=1", REQUEST_METHOD="POST", body=b"x=1&y=2",
                             CONTENT_LENGTH="7", CONTENT_TYPE="text/plain",
                             HTTP_REFERER="http://127.0.0.1/page.html",
                             HTTP_ACCEPT="image/gif, text/*;q=0.5",
                             HTTP_ACCEPT_LANGUAGE="en")
        data_file, content_file, output_file, url_args = seen["words"]
        self.assertEqual(url_args, "")
        self.assertEqual(seen["cwd"], self.tree.cgi)
        self.assertEqual(seen["content"], "x=1&y=2")
        self.assertEqual(os.path.dirname(data_file), os.path.dirname(output_file))
        self.assertNotIn(" ", data_file + content_file + output_file)
        lines = seen["data"].split("\r\n")
        for line in ("[CGI]", "Request Method=POST", "Query String=a=1",
                     "Referer=http://127.0.0.1/page.html", "User Agent=" + MOZILLA,
                     "Content Length=7", "Content Type=text/plain",
                     "Content File=" + content_file, "CGI Version=CGI/1.3a (Win)",
                     "[Accept]", "image/gif=Yes", "text/*=q=0.5", "[System]",
                     "Output File=" + output_file, "[Extra Headers]",
                     "User-Agent=" + MOZILLA, "Referer=http://127.0.0.1/page.html",
                     "Accept-Language=en"):
            self.assertIn(line, lines)
        self.assertTrue(any(line.startswith("GMT Offset=") for line in lines))
        self.assert_clean()


class Failures(BridgeTest):
    def test_no_output_gives_502_and_logs_the_exit_code(self):
        script = self.install_fake("silent.py", "silent")
        out, log, _ = self.tree.run_bridge(script)
        self.assertTrue(out.startswith(b"Status: 502 Bad Gateway\r\n"), out)
        self.assertIn("exit code 3", log)
        self.assert_clean()

    def test_output_error_gives_502_even_with_bytes_in_the_file(self):
        script = self.install_fake("failing_writer.py", "failing")
        out, log, _ = self.tree.run_bridge(script)
        self.assertTrue(out.startswith(b"Status: 502 Bad Gateway\r\n"), out)
        self.assertNotIn(b"GIF89a", out)
        self.assertIn("exit code 236 (error 1004: the output file cannot be "
                      "opened or written)", log)
        self.assert_clean()

    def test_output_past_the_cap_is_cut_and_logged(self):
        env = self.tree.cgi_env(WINCGI_MAX_OUTPUT="6000")
        out, log, _ = self.tree.run_bridge(env=env)
        self.assertTrue(out.startswith(b"HTTP/1.0 502 Bad Gateway\r\n"), out)
        self.assertIn("output passed WINCGI_MAX_OUTPUT (6000 bytes)", log)
        # Paced: the parts complete within the cap go out, then the stream ends
        # (the pusher's third part passes 200 bytes).
        script = self.install_fake("pusher.py", "pusher")
        env = self.tree.cgi_env(WINCGI_MAX_OUTPUT="200", WINCGI_FRAME_INTERVAL="10")
        out, log, _ = self.tree.run_bridge(script, env)
        self.assertIn(b"part 0 at", out)
        self.assertNotIn(b"part 1 at", out)
        self.assertTrue(out.endswith(b"--cut\nContent-type: text/plain\n\n"), out)
        self.assertIn("output passed WINCGI_MAX_OUTPUT (200 bytes)", log)
        self.assert_clean()

    def test_time_limit_kills_the_program(self):
        script = self.install_fake("sleeper.py", "sleeper")
        started = time.monotonic()
        out, log, _ = self.tree.run_bridge(script, self.tree.cgi_env(WINCGI_TIMEOUT="1"))
        self.assertLess(time.monotonic() - started, 20)
        self.assertTrue(out.startswith(b"Status: 504 Gateway Timeout\r\n"), out)
        self.assertIn("time limit", log)
        self.assert_ended("sleeper")
        self.assert_clean()

    def test_termination_stops_the_program_and_cleans_up(self):
        script = self.install_fake("sleeper.py", "sleeper")
        bridge = self.start_bridge(script, self.tree.cgi_env())
        self.assertTrue(wait_until(
            lambda: os.path.exists(os.path.join(self.tree.cgi, "sleeper.pid"))),
            "the program did not start")
        bridge.terminate()
        try:
            bridge.communicate(timeout=10)
        finally:
            if bridge.poll() is None:
                bridge.kill()
        self.assert_ended("sleeper")
        self.assert_clean()

    def test_streams_the_output_while_the_program_writes_it(self):
        script = self.install_fake("pusher.py", "pusher")
        env = self.tree.cgi_env(WINCGI_FRAME_INTERVAL="10")
        bridge = self.start_bridge(script, env)
        try:
            first = b""
            # Part 0 goes out with the header block of part 1.
            while b"part 0" not in first or not first.endswith(b"\n\n"):
                chunk = bridge.stdout.read1(65536)
                self.assertTrue(chunk, "stream ended early")
                first += chunk
            first_seen = time.time()
            rest = bridge.stdout.read()
        finally:
            bridge.stdout.close()
            bridge.wait(timeout=30)
        last_written = float(rest.split(b"part 2 at ")[1].split(b"\n")[0])
        self.assertLess(first_seen, last_written)
        self.assert_clean()

    def test_paced_part_larger_than_the_read_ahead_goes_out_whole(self):
        self.install_fake("big_part.py", "big")
        self.tree.install(bridge(), "nph-big.cgi")
        out, _, code = self.tree.run_bridge(
            "nph-big.cgi", self.tree.cgi_env(WINCGI_FRAME_INTERVAL="50"), timeout=60)
        self.assertEqual(code, 0)
        self.assertEqual(len(out), 3 * 1024 * 1024 + 109)
        self.assertTrue(out.endswith(bytes(range(256)) + b"\n--cut\n"))
        self.assert_clean()

    def test_oversized_body_is_refused_before_the_program_runs(self):
        script = self.install_fake("echo_request.py", "echo")
        env = self.tree.cgi_env(REQUEST_METHOD="POST", CONTENT_LENGTH="11",
                                WINCGI_MAX_BODY="10")
        out, _, _ = self.tree.run_bridge(script, env, b"x" * 11)
        self.assertTrue(out.startswith(b"Status: 413 "), out)
        self.assert_clean()

    def test_bad_setting_and_missing_program(self):
        out, _, _ = self.tree.run_bridge(
            "whirlo32.cgi", self.tree.cgi_env(WINCGI_FRAME_INTERVAL="fast"))
        self.assertTrue(out.startswith(b"Status: 500 "), out)
        self.assertIn(b"WINCGI_FRAME_INTERVAL", out)
        self.tree.install(bridge(), "nothing.cgi")
        out, _, _ = self.tree.run_bridge("nothing.cgi")
        self.assertTrue(out.startswith(b"Status: 502 "), out)
        self.assert_clean()


if __name__ == "__main__":
    unittest.main()
