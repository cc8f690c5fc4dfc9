#!/usr/bin/env python3
"""A Windows CGI program that writes nothing and fails."""
import sys

sys.exit(3)
