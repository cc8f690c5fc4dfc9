"""The Windows build of the bridge under Wine, with whirlo32.exe: both
names, spooled and paced, relay what whirlo32.exe writes and leave no
temporary files."""

import os
import shutil
import tempfile
import unittest

from bridge_env import FRAMES, MOZILLA, body_of, bridge, program
from lib.programs import windows_path
from lib.wine import WRAPPER, WineSession

QUERIES = ["", "whirlo?.gif?D", "whirlo?.gif?pict=11", "whirlo?.gif?start=20"]
# The runner (tests/run.py) holds the Wine session; this names the same prefix.
SESSION = WineSession(wine=os.environ.get("WHIRLO_EMULATOR") or WRAPPER)


class UnderWine(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="whirlo-bridge-wine-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.cgi = os.path.join(self.root, "cgi")
        self.temp = os.path.join(self.root, "temp")
        os.makedirs(self.cgi)
        os.makedirs(self.temp)
        shutil.copy(program(), os.path.join(self.cgi, "whirlo32.exe"))
        for name in ("nph-whirlo32.exe", "whirlo32.cgi.exe"):
            shutil.copy(bridge(), os.path.join(self.cgi, name))
        with open(os.path.join(self.cgi, "pelk.ini"), "w") as ini:
            ini.write("[Whirl]\r\nAnimation Path=%s\\\r\nAllow Viewer=Mozilla\r\n"
                      % windows_path(FRAMES))

    def wine(self, words, env):
        return SESSION.run(words, env, cwd=self.cgi, capture_output=True,
                           timeout=120).stdout

    def direct_output(self, query):
        data = os.path.join(self.root, "req.dat")
        output = os.path.join(self.root, "req.out")
        with open(data, "w") as handle:
            handle.write("[CGI]\r\nQuery String=%s\r\n[Extra Headers]\r\nUser-Agent=%s\r\n"
                         "[System]\r\nOutput File=%s\r\n"
                         % (query, MOZILLA, windows_path(output)))
        self.wine(["whirlo32.exe", windows_path(data)], {})
        with open(output, "rb") as handle:
            result = handle.read()
        os.remove(output)
        return result

    def test_both_names_spooled_and_paced(self):
        for query in QUERIES:
            expected = self.direct_output(query)
            self.assertTrue(expected.startswith(b"HTTP/1.0 200 OK\n"))
            for interval in ("0", "20"):
                env = {"REQUEST_METHOD": "GET", "QUERY_STRING": query,
                       "HTTP_USER_AGENT": MOZILLA, "WINCGI_FRAME_INTERVAL": interval,
                       "WINCGI_TEMP": windows_path(self.temp)}
                with self.subTest(query=query, interval=interval):
                    self.assertEqual(self.wine(["nph-whirlo32.exe"], env), expected)
                    parsed = self.wine(["whirlo32.cgi.exe"], env)
                    self.assertTrue(parsed.startswith(b"Status: 200 OK\r\n"), parsed[:100])
                    self.assertEqual(body_of(parsed), body_of(expected))
                    self.assertEqual(os.listdir(self.temp), [])


if __name__ == "__main__":
    unittest.main()
