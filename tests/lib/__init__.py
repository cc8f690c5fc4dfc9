"""What the Python test suites share: the responses the CGI program writes
(responses), a private folder tree per test (tree), running a program
natively or through an emulator, optionally under strace (programs), the
assertions built on them (cases) and the distribution set's files
(distribution)."""
