"""Command line, CGI data file, output file and where pelk.ini is found."""

import os
import unittest

from lib.cases import SiteTestCase
from lib.responses import animation, error_response, frame_parts, single


class CommandLineTests(SiteTestCase):

    def test_empty_tail_reports_1001(self):
        cases = [[]]
        if not self.site.emulated:
            # Blank-only words reach the tail only natively; an emulator
            # would quote them.
            cases += [[" "], ["\t", " \t "]]
        for words in cases:
            with self.subTest(words=words):
                before = self.site.snapshot()
                result = self.site.run(words)
                self.assertOutcome(result, 1001)
                if not self.site.emulated:
                    # The POSIX message box is a line on stderr; Windows shows a window.
                    self.assertTrue(result.stderr.strip(), "message box line on stderr")
                self.assertEqual(self.site.snapshot(), before)

    def test_words_after_data_file_path_are_ignored(self):
        self.site.write_config()
        frames = self.site.write_frames("x", range(1, 4))
        result = self.site.request("x", extra_args=["Query", "String=y"])
        self.assertServed(result, animation(frame_parts(frames, [1, 2, 3])))

    def test_missing_data_file_reports_1002(self):
        self.site.write_config()
        before = self.site.snapshot()
        result = self.site.run([self.site.host(self.site.path("temp", "none.ini"))])
        self.assertOutcome(result, 1002)
        self.assertEqual(self.site.snapshot(), before)

    def test_tab_after_path_belongs_to_path(self):
        self.site.write_config()
        self.site.write_frames("x", range(1, 4))
        data, content, output = self.site.write_data_file("x")
        result = self.site.run([self.site.host(data) + "\tx"], output=output)
        self.assertOutcome(result, 1002)
        self.assertTrue(os.path.exists(data), "unrelated data file touched")
        self.assertTrue(os.path.exists(content), "unrelated content file touched")


class DataFileTests(SiteTestCase):
    configured = True
    x_frames = range(1, 4)

    def test_request_files_are_deleted_after_reading(self):
        for content in (True, False):
            with self.subTest(content_file=content):
                result = self.site.request("x", content=content)
                self.assertServed(result, animation(frame_parts(self.frames, [1, 2, 3])))

    def test_data_file_serves_only_once(self):
        data, content, output = self.site.write_data_file("x")
        first = self.site.run([self.site.host(data)], data=data, output=output)
        self.assertEqual(first.code, 0)
        os.remove(output)
        second = self.site.run([self.site.host(data)], output=output)
        self.assertOutcome(second, 1002)

    def test_only_system_section_plays_demonstration(self):
        demo = self.site.install_demo_frames()
        out = os.path.join(self.site.temp, "demo.out")
        text = "[System]\r\nOutput File=%s\r\n" % self.site.host(out)
        result = self.site.request(text=text, output=out)
        self.assertServed(result, animation(frame_parts(demo, range(1, 14))))

    def test_query_string_is_cut_after_254_characters(self):
        # W resumes at its argument; the D field starts at index 253 or 254.
        for fill, order in ((240, [3, 2, 1]), (241, [1, 2, 3])):
            query = "X?.GIF?Wait=" + "-" * fill + "?D"
            with self.subTest(length=len(query)):
                result = self.site.request(query)
                self.assertServed(result, animation(frame_parts(self.frames, order)))

    def test_output_file_that_cannot_be_opened_reports_1004(self):
        cases = {
            "folder missing": self.site.path("nowhere", "out.dat"),
            "no Output File key": None,
            "names a folder": self.site.mkdir("temp", "folder.out"),
        }
        for name, output in cases.items():
            with self.subTest(name):
                result = self.site.request("x", output=output)
                self.assertOutcome(result, 1004)
                self.assertFalse(result.data_exists)
                self.assertFalse(result.content_exists)
        self.assertFalse(os.path.exists(self.site.path("nowhere")))

    def test_empty_output_file_value_reports_1004(self):
        text = "[CGI]\r\nQuery String=x\r\n[System]\r\nOutput File=\r\n"
        before = self.site.snapshot()
        result = self.site.request(text=text)
        self.assertOutcome(result, 1004)
        self.assertEqual(self.site.snapshot(), before)

    def test_first_failing_step_decides(self):
        self.site.write_config({"Animation Path": self.site.host_dir(self.site.anim),
                                "Allow Only": "example.com"})
        refused = "http://other.org/"
        cases = [
            ("refused referer before bad extension", "X?.PNG", refused, True, [2001], 2001),
            ("refused referer before unknown commands", "X?.GIF?Q?Z", refused, True,
             [2001], 2001),
            ("bad extension before output open", "X?.PNG", "", None, [1003], 1003),
            ("unknown command, then output open", "X?.GIF?Q", "", None, [2002, 1004], 1004),
        ]
        for name, query, referer, output, messages, number in cases:
            with self.subTest(name):
                result = self.site.request(query, referer=referer, output=output)
                self.assertOutcome(result, number, messages)
                self.assertFalse(result.data_exists)


class ConfigLocationTests(SiteTestCase):
    """pelk.ini: current directory first, else WINDIR."""

    def anim_entry(self, folder=None):
        return {"Animation Path": self.site.host_dir(folder or self.site.anim)}

    def test_windows_directory_file_used_when_cwd_has_none(self):
        self.site.write_config({**self.anim_entry(), "Allow Viewer": "Mozilla"},
                               folder=self.site.windir)
        frames = self.site.write_frames("x", range(1, 4))
        result = self.site.request("x", user_agent="Lynx/2.8")
        self.assertServed(result, single(frame_parts(frames, [1])[0]))

    def test_cwd_file_wins_although_it_lacks_allow_only(self):
        self.site.write_config(self.anim_entry())
        self.site.write_config({**self.anim_entry(), "Allow Only": "nowhere.example"},
                               folder=self.site.windir)
        frames = self.site.write_frames("x", range(1, 4))
        result = self.site.request("x", referer="http://www.other.org/")
        self.assertServed(result, animation(frame_parts(frames, [1, 2, 3])))

    def test_cwd_file_wins_although_it_lacks_animation_path(self):
        self.site.write_config({"Allow Only": ""})
        self.site.write_config(self.anim_entry(), folder=self.site.windir)
        self.site.write_frames("x", range(1, 4))
        local = self.site.write_frames("x", range(1, 3), folder=self.site.cgi,
                                       salt="cwd")
        result = self.site.request("x")
        self.assertServed(result, animation(frame_parts(local, [1, 2])))

    def test_no_configuration_anywhere(self):
        local = self.site.write_frames("x", range(1, 4), folder=self.site.cgi,
                                       salt="cwd")
        self.site.write_frames("x", range(1, 6))
        result = self.site.request("x", referer="http://anywhere/", user_agent="Lynx")
        self.assertServed(result, animation(frame_parts(local, [1, 2, 3])))

    def test_section_and_key_names_in_any_case(self):
        frames = self.site.write_frames("x", range(1, 4))
        anim = self.site.host_dir(self.site.anim)
        for section, key in (("WHIRL", "ANIMATION PATH"), ("whirl", "animation path")):
            with self.subTest(section=section):
                self.site.write_config(text="[%s]\r\n%s=%s\r\nallow VIEWER=Mozilla\r\n"
                                       % (section, key, anim))
                result = self.site.request("x", user_agent="Lynx")
                self.assertServed(result, single(frame_parts(frames, [1])[0]))

    def test_animation_path_without_separator_finds_nothing(self):
        self.site.write_config({"Animation Path": self.site.host(self.site.anim)})
        self.site.write_frames("x", range(1, 4))
        result = self.site.request("x")
        self.assertOutcome(result, 1005, output=error_response())

    def test_overlong_cwd_config_path_falls_back_to_windows_directory(self):
        # cwd + "/pelk.ini" of 255 characters is used; 256 falls back.
        self.site.write_config({**self.anim_entry(), "Allow Only": "no.such.site"},
                               folder=self.site.windir)
        frames = self.site.write_frames("x", range(1, 4))
        served = animation(frame_parts(frames, [1, 2, 3]))
        for length, local_used in ((246, True), (247, False)):
            with self.subTest(cwd_length=length):
                cwd = self.site.dir_of_host_length(length, fill="c" if local_used else "b")
                self.site.write_config({**self.anim_entry(), "Allow Only": "other.org"},
                                       folder=cwd)
                result = self.site.request("x", referer="http://www.other.org/", cwd=cwd)
                if local_used:
                    self.assertServed(result, served)
                else:
                    self.assertOutcome(result, 2001)


if __name__ == "__main__":
    unittest.main()
