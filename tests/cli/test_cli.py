#!/usr/bin/python3
"""Drives the installed keldo-crypto tool and checks it against independent
implementations: coreutils sha256sum and base64, Python's hashlib, hmac and
base64, and PyJWT.

Usage: test_cli.py --tool PATH --work DIR [unittest arguments, e.g. a class]
"""
import argparse
import base64
import hashlib
import hmac
import json
import os
import pty
import random
import re
import select
import subprocess
import sys
import tempfile
import time
import unittest

import jwt  # PyJWT, Debian's python3-jwt

TOOL = None
WORK = None
SANITIZED = False  # the tool runs under sanitizers, whose memory dwarfs its own
# Under valgrind's memcheck (CI's memory stage) each byte costs some fifty
# times more and the resident set is valgrind's: streams of tens of MiB and
# the peak-memory bounds are left to the native run, and the seeded
# differential tables are shortened.
UNDER_MEMCHECK = bool(os.environ.get("KELDO_UNDER_MEMCHECK"))
RANDOM_CASES = 15 if UNDER_MEMCHECK else 150
SECRET = "cli-test-secret-0123456789abcdef!"
RNG = random.Random(20240611)


def run(*args, stdin=b"", env=None, stdin_file=None, timeout=60, cwd=None):
    """Runs the tool; returns (exit code, stdout bytes, stderr text)."""
    full_env = dict(os.environ)
    full_env.pop("KELDO_JWT_SECRET", None)
    full_env.update(env or {})
    p = subprocess.run([TOOL, *args], input=None if stdin_file else stdin,
                       stdin=stdin_file, capture_output=True, env=full_env,
                       timeout=timeout, cwd=cwd)
    return p.returncode, p.stdout, p.stderr.decode("utf-8", "replace")


def coreutils(*args, stdin=b"", cwd=None):
    return subprocess.run(list(args), input=stdin, capture_output=True, cwd=cwd)


def peak_rss_kib(args, stdin=b"", env=None):
    """Runs the tool under GNU time; returns (exit code, peak resident set
    in KiB)."""
    full_env = dict(os.environ)
    full_env.pop("KELDO_JWT_SECRET", None)
    full_env.update(env or {})
    with tempfile.NamedTemporaryFile(dir=WORK) as report:
        p = subprocess.run(["/usr/bin/time", "-q", "-o", report.name, "-f", "%M", TOOL, *args],
                           input=stdin, capture_output=True, env=full_env, timeout=120)
        return p.returncode, int(read_file(report.name).split()[-1])


def under_file_size_limit(shell_pipeline, kib=20480):
    """Runs a shell pipeline with `ulimit -f`, so a temporary copy of the
    stream larger than the limit kills the tool with SIGXFSZ."""
    return subprocess.run(["/bin/sh", "-c", f"ulimit -f {kib}; {shell_pipeline}"],
                          capture_output=True, timeout=120,
                          env=dict(os.environ, TOOL=TOOL))


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def random_bytes(n):
    return RNG.getrandbits(8 * n).to_bytes(n, "little") if n else b""


class Workdir(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(dir=WORK, prefix="cli-")
        self.dir = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path


class Sha256Tests(Workdir):
    def make_files(self):
        names = []
        for i, n in enumerate([0, 1, 55, 56, 64, 1000, 1 << 20]):
            names.append(self.write(f"f{i}.bin", random_bytes(n)))
        names.append(self.write("with space", b"space"))
        names.append(self.write("back\\slash", b"backslash"))
        names.append(self.write("new\nline", b"newline"))
        return names

    def test_files_match_sha256sum(self):
        names = self.make_files()
        code, out, _ = run("sha256", *names)
        self.assertEqual(code, 0)
        self.assertEqual(out, coreutils("sha256sum", *names).stdout)
        code, out, _ = run("sha256", "--tag", *names)
        self.assertEqual(out, coreutils("sha256sum", "--tag", *names).stdout)

    def test_standard_input(self):
        # A small pipe, a pipe of many read blocks, and a file given as
        # standard input part-way through.
        for n in [0, 3, (2 if UNDER_MEMCHECK else 20) << 20]:
            data = random_bytes(n)
            for args in [(), ("-",)]:
                code, out, _ = run("sha256", *args, stdin=data)
                self.assertEqual(code, 0)
                self.assertEqual(out, coreutils("sha256sum", "-", stdin=data).stdout)
        path = self.write("seek.bin", random_bytes(10000))
        with open(path, "rb") as f:
            f.seek(1234)
            code, out, _ = run("sha256", stdin_file=f)
        want = hashlib.sha256(read_file(path)[1234:]).hexdigest()
        self.assertEqual(out, f"{want}  -\n".encode())

    def test_large_sparse_file(self):
        if UNDER_MEMCHECK:
            self.skipTest("100 MiB under memcheck; checked natively")
        path = os.path.join(self.dir, "sparse.bin")
        with open(path, "wb") as f:
            f.truncate((100 << 20) + 4097)
            f.seek(50 << 20)
            f.write(b"middle")
            f.seek(-3, os.SEEK_END)
            f.write(b"end")
        code, out, _ = run("sha256", path)
        self.assertEqual(code, 0)
        self.assertEqual(out, coreutils("sha256sum", path).stdout)

    def test_check(self):
        names = self.make_files()
        listing = self.write("SHA256SUMS", coreutils("sha256sum", *names).stdout)
        for opts in [(), ("--quiet",)]:
            code, out, _ = run("sha256", "-c", *opts, listing)
            self.assertEqual((code, out), (0, coreutils("sha256sum", "-c", *opts, listing).stdout))
        # A changed file, a missing file and a malformed line.
        with open(names[3], "ab") as f:
            f.write(b"x")
        os.unlink(names[4])
        with open(listing, "ab") as f:
            f.write(b"not a checksum line\n")
        for opts in [(), ("--quiet",), ("--status",), ("--strict",), ("--ignore-missing",)]:
            want = coreutils("sha256sum", "-c", *opts, listing)
            code, out, err = run("sha256", "--check", *opts, listing)
            self.assertEqual((code, out), (want.returncode, want.stdout), opts)
            self.assertEqual(code, 1)
        self.assertIn(os.path.basename(names[3]).encode() + b": FAILED\n", out)
        self.assertIn("WARNING: 1 computed checksum did NOT match", err)
        # The list on standard input.
        code, out, _ = run("sha256", "-c", stdin=read_file(listing))
        self.assertEqual(code, 1)

    # Names sha256sum writes escaped (backslash, LF, CR) or quotes in its
    # messages (blank, tab, apostrophe).
    ODD_NAMES = [b"plain", b"with space", b"back\\slash", b"new\nline", b"cr\rname",
                 b"both\r\n", b"tab\tname", b"it's"]

    def make_odd_files(self):
        for i, name in enumerate(self.ODD_NAMES):
            self.write(name.decode("utf-8", "surrogateescape"), b"content %d" % i)
        return [n.decode("utf-8", "surrogateescape") for n in self.ODD_NAMES]

    def assert_like_sha256sum(self, args, stdin=b"", io_error=False):
        """stdout, the number of stderr lines and the exit status of the tool
        and of sha256sum, both run in the work directory. io_error: a FILE
        could not be read, which is the tool's exit 3 (sha256sum's 1)."""
        want = coreutils("sha256sum", *args, stdin=stdin, cwd=self.dir)
        code, out, err = run("sha256", *args, stdin=stdin, cwd=self.dir)
        self.assertEqual(out, want.stdout, (args, stdin))
        self.assertEqual(err.count("\n"), want.stderr.count(b"\n"),
                         (args, stdin, err, want.stderr))
        self.assertEqual(code, 3 if io_error else want.returncode, (args, stdin, err))
        return err

    def test_stream_in_constant_memory_without_temporary_file(self):
        if UNDER_MEMCHECK:
            self.skipTest("64 MiB streams and the resident set under memcheck; checked natively")
        # 64 MiB through a pipe under a 20 MiB file-size limit: a temporary
        # copy of the stream would die of SIGXFSZ.
        p = under_file_size_limit('head -c 64M /dev/zero | "$TOOL" sha256')
        self.assertEqual(p.returncode, 0, p.stderr)
        want = coreutils("/bin/sh", "-c", "head -c 64M /dev/zero | sha256sum").stdout
        self.assertEqual(p.stdout, want)
        key = self.write("key", b"stream key")
        p = under_file_size_limit(f'head -c 64M /dev/zero | "$TOOL" hmac --key-file {key}')
        self.assertEqual(p.returncode, 0, p.stderr)
        mac = hmac.new(b"stream key", digestmod="sha256")
        for _ in range(64):
            mac.update(bytes(1 << 20))
        self.assertEqual(p.stdout, f"{mac.hexdigest()}  -\n".encode())
        # The resident set stays far below the stream, which is never held.
        code, rss = peak_rss_kib(["sha256"], stdin=bytes(24 << 20))
        self.assertEqual(code, 0)
        if not SANITIZED:
            self.assertLess(rss, 8 * 1024)

    def test_names_escaped_like_sha256sum(self):
        names = self.make_odd_files()
        for opts in [(), ("--tag",), ("-b",)]:
            self.assert_like_sha256sum([*opts, *names])
        # A missing name with a line feed or blank is one quoted error line.
        err = self.assert_like_sha256sum(["missing\nname", "missing name", "plain"],
                                         io_error=True)
        self.assertIn("keldo-crypto: 'missing'$'\\n''name': No such file or directory\n", err)
        self.assertIn("keldo-crypto: 'missing name': No such file or directory\n", err)

    def test_check_like_sha256sum(self):
        names = self.make_odd_files()
        good = coreutils("sha256sum", *names, cwd=self.dir).stdout
        tagged = coreutils("sha256sum", "--tag", *names, cwd=self.dir).stdout
        hex_a = hashlib.sha256(b"content 0").hexdigest().encode()
        bad = b"0" * 64
        lists = {
            "good": good,
            "tagged": tagged,
            "crlf": good.replace(b"\n", b"\r\n"),
            "upper": good.upper().replace(b"PLAIN", b"plain"),
            "no final newline": good.rstrip(b"\n"),
            "comments and blanks": b"# comment\n\n  \t\n" + good,
            "mismatch": good + bad + b"  plain\n",
            "missing": good + bad + b"  gone\n" + hex_a + b"  gone too\n",
            "all missing": bad + b"  gone\n",
            "only mismatched": bad + b"  plain\n",
            "misformatted": good + b"not a line\n" + hex_a[:63] + b"  plain\n" + b"x" * 70 + b"\n",
            "nothing good": b"junk\nmore junk\n",
            "reversed": hex_a + b" plain\n",
            "reversed after standard": hex_a + b"  plain\n" + hex_a + b" plain\n",
            "bsd spacing": b"SHA256(plain)=" + hex_a + b"\n" + b"SHA256 (plain) \t= " + hex_a + b"\n",
            "bsd bad": b"SHA256 (plain = " + hex_a + b"\nSHA256 (plain) = " + hex_a[:60] + b"\n",
            "nul in name": hex_a + b"  plain\0junk\n" + hex_a + b"  \0plain\n",
            "nul escaped": b"\\" + hex_a + b"  pla\0in\n",
            "nul in digest": hex_a[:10] + b"\0" + hex_a[11:] + b"  plain\n",
            "bad escapes": b"\\" + hex_a + b"  pl\\ain\n\\" + hex_a + b"  plain\\\n",
            "missing newline name": b"\\" + bad + b"  gone\\nname\n" + hex_a + b"  plain\n",
            "dash": hex_a + b"  -\n",
        }
        options = [(), ("--quiet",), ("--status",), ("--warn",), ("--strict",),
                   ("--ignore-missing",), ("--quiet", "--status"), ("--status", "--quiet"),
                   ("--warn", "--status"), ("--status", "--warn"), ("--quiet", "--warn"),
                   ("--ignore-missing", "--status"), ("--strict", "--warn")]
        for label, content in lists.items():
            path = self.write("SUMS", content)
            for opts in options:
                with self.subTest(label=label, opts=opts):
                    self.assert_like_sha256sum(["-c", *opts, path])
            # From standard input, where "-" names no file.
            with self.subTest(label=label, stdin=True):
                self.assert_like_sha256sum(["-c"], stdin=content)

    def test_check_random_lists_like_sha256sum(self):
        # Lists assembled from the pieces of every line format, seeded.
        self.make_odd_files()
        rng = random.Random(5)
        hex_a = hashlib.sha256(b"content 0").hexdigest().encode()
        pieces = [hex_a, hex_a.upper(), b"0" * 64, hex_a[:63], b" ", b"  ", b" *", b"*", b"\t",
                  b"\\", b"plain", b"with space", b"gone", b"-", b"SHA256", b"SHA256 (", b"(",
                  b")", b" = ", b"=", b"\\n", b"\\r", b"\\\\", b"\0", b"\r", b"#", b"\n", b"x"]
        for _ in range(RANDOM_CASES):
            lines = [b"".join(rng.choice(pieces) for _ in range(rng.randrange(1, 6)))
                     for _ in range(rng.randrange(1, 5))]
            content = b"\n".join(lines) + rng.choice([b"", b"\n"])
            opts = rng.choice([[], ["--quiet"], ["--status"], ["--warn"], ["--strict"],
                               ["--ignore-missing"], ["--warn", "--strict"]])
            if rng.randrange(2):
                self.assert_like_sha256sum(["-c", *opts], stdin=content)
            else:
                self.assert_like_sha256sum(["-c", *opts, self.write("SUMS", content)])

    def test_hmac(self):
        key = random_bytes(100) + b"\n"
        key_file = self.write("key", key)
        data = [random_bytes(n) for n in [0, 1, 64, 5000]]
        names = [self.write(f"d{i}", d) for i, d in enumerate(data)]
        code, out, _ = run("hmac", "--key-file", key_file, *names)
        want = "".join(f"{hmac.new(key, d, 'sha256').hexdigest()}  {n}\n"
                       for d, n in zip(data, names))
        self.assertEqual((code, out.decode()), (0, want))
        code, out, _ = run("hmac", "--key-env", "K", stdin=data[3], env={"K": "short key"})
        self.assertEqual(out.decode(),
                         hmac.new(b"short key", data[3], "sha256").hexdigest() + "  -\n")


class Base64Tests(Workdir):
    # 3 * 65536 + 1 crosses both the encoder's and the decoder's block size.
    SIZES = [0, 1, 2, 3, 56, 57, 58, 1000, 3 * 65536 + 1]

    def test_matches_coreutils(self):
        for n in self.SIZES:
            path = self.write("in.bin", random_bytes(n))
            for wrap in [None, "0", "1", "4", "76", "77"]:
                opts = ["-w", wrap] if wrap else []
                code, out, _ = run("base64", *opts, path)
                self.assertEqual(code, 0)
                self.assertEqual(out, coreutils("base64", *opts, path).stdout, (n, wrap))

    def test_decodes_coreutils_output(self):
        for n in self.SIZES:
            data = random_bytes(n)
            for wrap in ["76", "0", "5"]:
                text = coreutils("base64", "-w", wrap, stdin=data).stdout
                code, out, _ = run("base64", "-d", stdin=text)
                self.assertEqual((code, out), (0, data), (n, wrap))
            # Line breaks of another system: refused as coreutils refuses
            # them, after the same bytes.
            crlf = text.replace(b"\n", b"\r\n")
            want = coreutils("base64", "-d", stdin=crlf)
            code, out, _ = run("base64", "-d", stdin=crlf)
            self.assertEqual((code, out), (want.returncode, want.stdout), n)

    def test_round_trips_both_alphabets(self):
        for n in self.SIZES:
            path = self.write("in.bin", random_bytes(n))
            for cmd in ["base64", "base64url"]:
                for wrap in ["76", "0", "3"]:
                    code, text, _ = run(cmd, "-w", wrap, path)
                    self.assertEqual(code, 0)
                    code, back, _ = run(cmd, "-d", stdin=text)
                    self.assertEqual((code, back), (0, read_file(path)), (cmd, n, wrap))

    def test_base64url_alphabet(self):
        data = random_bytes(3000)
        code, out, _ = run("base64url", "-w", "0", stdin=data)
        self.assertEqual(out, base64.urlsafe_b64encode(data).rstrip(b"="))

    # Texts on each side of coreutils' rules: '=' inside the text, missing
    # or short padding, partial groups, CR, garbage, padded groups in a row.
    DECODE_CASES = [b"", b"\n", b"QUJD", b"QUJD=QUJD", b"QQ", b"QUJ", b"QQ=", b"QQ==", b"QUI=",
                    b"QQ==QUJD", b"QUI=QUJD\n", b"QQ=A", b"Q===", b"Q", b"QUJDQ", b"QR==",
                    b"QU\nJD\n", b"QUJD\r\n", b"QUJDQU!D", b"Y!Q=", b"YQ=\x00=", b"YQ===",
                    b"YWJj-A", b"YWJj_A==", b" QUJD", b"QUJD \n", b"QQ==\n\nQ", b"====",
                    b"QUJD\n=", b"\x00QUJD", b"QUJD" * 1000 + b"Q!", b"QUJD" * 3000 + b"QQ"]

    def test_decode_matches_coreutils(self):
        rng = random.Random(7)
        mutants = []
        for _ in range(RANDOM_CASES):
            text = bytearray(base64.encodebytes(random_bytes(rng.randrange(0, 40))))
            for _ in range(rng.randrange(1, 3)):
                pos = rng.randrange(0, len(text) + 1)
                text[pos:pos] = bytes([rng.choice(b"=\n\r !A-_+/\x00")])
            mutants.append(bytes(text))
        for text in self.DECODE_CASES + mutants:
            for opts in [("-d",), ("-d", "-i")]:
                want = coreutils("base64", *opts, stdin=text)
                code, out, err = run("base64", *opts, stdin=text)
                self.assertEqual((code, out), (want.returncode, want.stdout), (text, opts))
                self.assertEqual(err.count("\n"), want.stderr.count(b"\n"), (text, opts))
                if code != 0:
                    self.assertEqual(err, "keldo-crypto: base64: invalid input\n")

    def test_base64url_decode_rules(self):
        # Accepted: the URL-safe alphabet, with or without correct padding,
        # LF anywhere; Python's urlsafe decoder is the oracle for the bytes.
        for n in range(0, 12):
            data = random_bytes(n)
            padded = base64.urlsafe_b64encode(data)
            for text in [padded, padded.rstrip(b"="), padded[:2] + b"\n" + padded[2:] + b"\n"]:
                code, out, _ = run("base64url", "-d", stdin=text)
                self.assertEqual((code, out), (0, data), text)
        # Refused: the standard alphabet's '+' and '/', wrong padding, a
        # lone final character, an '=' inside a group, CR; the bytes before
        # the fault are written.
        for text, before in [(b"-_-_+A==", b"\xfb\xff\xbf"), (b"AB/C", b"\0"), (b"QQ=", b"A"),
                             (b"QUJDQ", b"ABC"), (b"QU=D", b"A"), (b"QUJD\r\n", b"ABC")]:
            code, out, err = run("base64url", "-d", stdin=text)
            self.assertEqual((code, out, err), (1, before, "keldo-crypto: base64url: invalid input\n"),
                             text)
        code, out, _ = run("base64url", "-d", "-i", stdin=b"QU+J/D\r\n")
        self.assertEqual((code, out), (0, b"ABC"))


def phc_decode(field):
    return base64.b64decode(field + "=" * (-len(field) % 4))


class PasswordTests(Workdir):
    def hash(self, password, iterations="1000"):
        code, out, err = run("password", "hash", "--iterations", iterations,
                             stdin=password + b"\n")
        self.assertEqual(code, 0, err)
        return out.decode().strip()

    def test_hash_checked_by_hashlib(self):
        salts = set()
        for password in [b"correct horse", "pässwörd".encode(), b"x" * 200]:
            stored = self.hash(password)
            m = re.fullmatch(r"\$pbkdf2-sha256\$i=1000\$([A-Za-z0-9+/]+)\$([A-Za-z0-9+/]+)", stored)
            self.assertIsNotNone(m, stored)
            salt, dk = phc_decode(m.group(1)), phc_decode(m.group(2))
            self.assertEqual(len(salt), 16)
            self.assertEqual(dk, hashlib.pbkdf2_hmac("sha256", password, salt, 1000))
            salts.add(salt)
        self.assertEqual(len(salts), 3)
        pw_file = self.write("pw", b"from a file\nsecond line ignored\n")
        code, out, _ = run("password", "hash", "--iterations", "1000", "--password-file", pw_file)
        self.assertEqual(code, 0)
        parts = out.decode().strip().split("$")
        self.assertEqual(phc_decode(parts[4]), hashlib.pbkdf2_hmac(
            "sha256", b"from a file", phc_decode(parts[3]), 1000))

    def test_verify(self):
        stored = self.hash(b"s3cret")
        django_salt = "".join(RNG.choice("abcdefghijklmnopqrstuvwxyzABCDEF0123456789")
                              for _ in range(22))
        django = "pbkdf2_sha256$1200$%s$%s" % (django_salt, base64.b64encode(
            hashlib.pbkdf2_hmac("sha256", b"s3cret", django_salt.encode(), 1200)).decode())
        salt = random_bytes(8)
        phc = "$pbkdf2-sha256$i=1100$%s$%s" % (
            base64.b64encode(salt).decode().rstrip("="),
            base64.b64encode(hashlib.pbkdf2_hmac("sha256", b"s3cret", salt, 1100))
            .decode().rstrip("="))
        hash_file = self.write("stored", django.encode() + b"\n")
        for where in [[stored], [django], [phc], ["--hash-file", hash_file]]:
            code, out, _ = run("password", "verify", *where, stdin=b"s3cret\n")
            self.assertEqual((code, out), (0, b"OK\n"), where)
            code, out, err = run("password", "verify", *where, stdin=b"s3creT\n")
            self.assertEqual((code, out), (1, b""), where)
            self.assertIn("does not match", err)

    def test_verify_passlib_and_werkzeug_forms(self):
        # Built with hashlib as passlib (its Base64 with '.' for '+', salt
        # decoded) and Werkzeug (salt as text, hex key) write them.
        for password in [b"s3cret", "pässwörd ☃".encode()]:
            salt = random_bytes(16)
            key = hashlib.pbkdf2_hmac("sha256", password, salt, 1300)
            ab64 = lambda b: base64.b64encode(b).decode().rstrip("=").replace("+", ".")
            passlib = "$pbkdf2-sha256$1300$%s$%s" % (ab64(salt), ab64(key))
            w_salt = "".join(RNG.choice("abcdefghijklmnopqrstuvwxyz0123456789") for _ in range(16))
            werkzeug = "pbkdf2:sha256:1300$%s$%s" % (
                w_salt, hashlib.pbkdf2_hmac("sha256", password, w_salt.encode(), 1300).hex())
            for stored in [passlib, werkzeug]:
                code, out, err = run("password", "verify", stored, stdin=password + b"\n")
                self.assertEqual((code, out), (0, b"OK\n"), (stored, err))
                code, out, err = run("password", "verify", stored, stdin=password + b"x\n")
                self.assertEqual((code, out, err), (1, b"", "keldo-crypto: password verify: "
                                                            "the password does not match\n"))
        # A Werkzeug string without its count cannot be checked: the count
        # depends on the release that wrote it.
        code, out, err = run("password", "verify", werkzeug.replace(":1300$", "$"),
                             stdin=b"s3cret\n")
        self.assertEqual((code, out), (1, b""))
        self.assertEqual(err, "keldo-crypto: password verify: Werkzeug hash without an "
                              "iteration count is ambiguous\n")

    def test_malformed_stored_hash(self):
        for stored in ["md5$abc", "$pbkdf2-sha256$i=0$AAAA$AAAA", "$pbkdf2-sha256$i=10$AA$",
                       "$pbkdf2-sha256$i=10$A!AA$AAAA", "pbkdf2_sha256$10$salt$AAAA",
                       "$pbkdf2-sha256$i=10$AAAA$AAAA$extra"]:
            code, _, err = run("password", "verify", stored, stdin=b"pw\n")
            self.assertEqual(code, 1, stored)
            self.assertTrue(err.startswith("keldo-crypto: password verify: "), err)

    def test_stored_key_must_be_32_bytes(self):
        salt = b"\0\0\0"
        # A one-byte key matches one wrong password in 256: find one.
        wrong = next(p for p in (b"guess %d" % i for i in range(100000))
                     if hashlib.pbkdf2_hmac("sha256", p, salt, 1, 1) == b"\0")
        code, out, err = run("password", "verify", "$pbkdf2-sha256$i=1$AAAA$AA", stdin=wrong + b"\n")
        self.assertEqual((code, out), (1, b""))
        self.assertIn("not the canonical encoding of 32 bytes", err)
        # The right password under keys of other lengths, from hashlib.
        for n in [1, 20, 31, 33, 64, 700]:
            key = hashlib.pbkdf2_hmac("sha256", b"pw", salt, 2, n)
            stored = "$pbkdf2-sha256$i=2$AAAA$" + base64.b64encode(key).decode().rstrip("=")
            code, out, err = run("password", "verify", stored, stdin=b"pw\n")
            self.assertEqual((code, out), (1, b""), n)
            self.assertEqual(err, "keldo-crypto: password verify: hash field not the canonical "
                                  "encoding of 32 bytes\n", n)
        key = hashlib.pbkdf2_hmac("sha256", b"pw", salt, 2)
        stored = "$pbkdf2-sha256$i=2$AAAA$" + base64.b64encode(key).decode().rstrip("=")
        self.assertEqual(run("password", "verify", stored, stdin=b"pw\n")[:2], (0, b"OK\n"))

    def test_no_core_dump_while_a_password_is_held(self):
        # Interrupted by SIGQUIT at the second prompt, with core dumps
        # allowed by the parent: the limit is 0 and no dump is made.
        import resource
        import signal

        def allow_cores():
            soft, hard = resource.getrlimit(resource.RLIMIT_CORE)
            resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))

        master, slave = pty.openpty()
        p = subprocess.Popen([TOOL, "password", "hash", "--iterations", "1000"], stdin=slave,
                             stdout=subprocess.DEVNULL, stderr=slave, preexec_fn=allow_cores,
                             cwd=self.dir)
        os.close(slave)
        seen = b""
        deadline = time.time() + 20
        while b"Retype password: " not in seen:
            if b"Password: " in seen and b"|" not in seen:
                os.write(master, b"first secret\n")
                seen += b"|"
            r, _, _ = select.select([master], [], [], max(0.0, deadline - time.time()))
            self.assertTrue(r, "no prompt: %r" % seen)
            seen += os.read(master, 1024)
        with open(f"/proc/{p.pid}/limits") as f:
            core = next(line for line in f if line.startswith("Max core file size"))
        self.assertEqual(core.split()[4:6], ["0", "0"], core)
        os.kill(p.pid, signal.SIGQUIT)
        _, status = os.waitpid(p.pid, 0)
        p.returncode = 0  # reaped above
        os.close(master)
        self.assertTrue(os.WIFSIGNALED(status))
        self.assertEqual(os.WTERMSIG(status), signal.SIGQUIT)
        self.assertFalse(os.WCOREDUMP(status))
        self.assertEqual(os.listdir(self.dir), [])

    def test_terminal_prompts_without_echo(self):
        def converse(answers):
            master, slave = pty.openpty()
            p = subprocess.Popen([TOOL, "password", "hash", "--iterations", "1000"],
                                 stdin=slave, stdout=subprocess.PIPE, stderr=slave)
            os.close(slave)
            seen = b""
            for answer in answers:
                deadline = time.time() + 20
                while not seen.endswith(b"password: ") and not seen.endswith(b"Password: "):
                    r, _, _ = select.select([master], [], [], max(0.0, deadline - time.time()))
                    self.assertTrue(r, "no prompt: %r" % seen)
                    seen += os.read(master, 1024)
                os.write(master, answer + b"\n")
                seen += b"|"
            out, _ = p.communicate(timeout=20)
            try:
                while select.select([master], [], [], 0.2)[0]:
                    seen += os.read(master, 1024)
            except OSError:
                pass
            os.close(master)
            return p.returncode, out, seen

        code, out, seen = converse([b"tty pass", b"tty pass"])
        self.assertEqual(code, 0)
        self.assertNotIn(b"tty pass", seen)
        self.assertIn(b"Retype password: ", seen)
        parts = out.decode().strip().split("$")
        self.assertEqual(phc_decode(parts[4]), hashlib.pbkdf2_hmac(
            "sha256", b"tty pass", phc_decode(parts[3]), 1000))
        code, out, seen = converse([b"one", b"two"])
        self.assertEqual((code, out), (1, b""))
        self.assertIn(b"differ", seen)


class JwtTests(Workdir):
    ENV = {"KELDO_JWT_SECRET": SECRET}

    def verify(self, token, env=None):
        return run("jwt", "verify", "-", stdin=token.encode() + b"\n", env=env or self.ENV)

    def test_minted_token_accepted_by_pyjwt(self):
        code, out, _ = run("jwt", "mint", "--sub", "user-42", "--email", "a@example.org",
                           "--ttl", "120", env=self.ENV)
        self.assertEqual(code, 0)
        claims = jwt.decode(out.decode().strip(), SECRET, algorithms=["HS256"], issuer="keldo")
        self.assertEqual((claims["sub"], claims["email"]), ("user-42", "a@example.org"))
        self.assertEqual(claims["exp"] - claims["nbf"], 120)
        self.assertLessEqual(abs(claims["nbf"] - time.time()), 5)
        # The secret from a file (trailing newline dropped) and another variable.
        secret_file = self.write("secret", SECRET.encode() + b"\n")
        for opts, env in [(["--secret-file", secret_file], {}), (["--secret-env", "S"], {"S": SECRET})]:
            code, out, _ = run("jwt", "mint", "--sub", "s", "--email", "e", *opts, env=env)
            self.assertEqual(code, 0)
            jwt.decode(out.decode().strip(), SECRET, algorithms=["HS256"], issuer="keldo")

    def test_pyjwt_token_verified(self):
        now = int(time.time())
        for sub, email in [("alice", "alice@example.org"),
                           ('quote" back\\ tab\t nl\n ctl\x01\x1f del\x7f', "ünïcødé@例え.jp"), ("", "")]:
            token = jwt.encode({"sub": sub, "email": email, "iss": "keldo", "exp": now + 300,
                                "nbf": now}, SECRET, algorithm="HS256")
            code, out, err = self.verify(token)
            self.assertEqual(code, 0, err)
            self.assertTrue(out.endswith(b"}\n") and out.count(b"\n") == 1)
            self.assertEqual(json.loads(out), {"sub": sub, "email": email, "exp": now + 300})
        code, out, _ = run("jwt", "verify", token, env=self.ENV)
        self.assertEqual(code, 0)

    def test_refusals_carry_the_library_message(self):
        now = int(time.time())
        good = jwt.encode({"sub": "s", "email": "e", "iss": "keldo", "exp": now + 300},
                          SECRET, algorithm="HS256")
        expired = jwt.encode({"sub": "s", "email": "e", "iss": "keldo", "exp": now - 10},
                             SECRET, algorithm="HS256")
        head, payload, sig = good.split(".")
        forged = base64.urlsafe_b64encode(json.dumps(
            {"sub": "admin", "email": "e", "iss": "keldo", "exp": now + 300}).encode())
        tampered = ".".join([head, forged.decode().rstrip("="), sig])
        cases = [(expired, self.ENV, "jwt_verify: token has expired"),
                 (tampered, self.ENV, "jwt_verify: signature verification failed"),
                 (good, {"KELDO_JWT_SECRET": SECRET + "x"}, "jwt_verify: signature verification failed"),
                 ("no-dots", self.ENV, "jwt_verify: malformed token (missing first dot)")]
        for token, env, message in cases:
            code, out, err = self.verify(token, env)
            self.assertEqual((code, out, err), (1, b"", f"keldo-crypto: {message}\n"))

    def test_several_secrets_rotate(self):
        """The first secret signs; verify accepts any, says which on standard
        error only, and tries the next secret after a bad signature alone."""
        now = int(time.time())
        current, previous = "current-secret", "previous-secret"
        files = [self.write("current", current.encode()), self.write("previous", previous.encode())]
        ring = ["--secret-file", files[0], "--secret-env", "OLD"]
        env = {"OLD": previous}
        code, out, err = run("jwt", "mint", "--sub", "s", "--email", "e", *ring, env=env)
        self.assertEqual((code, err), (0, ""))
        jwt.decode(out.decode().strip(), current, algorithms=["HS256"], issuer="keldo")
        with self.assertRaises(jwt.InvalidSignatureError):
            jwt.decode(out.decode().strip(), previous, algorithms=["HS256"], issuer="keldo")

        def token(secret, exp=now + 300):
            return jwt.encode({"sub": "s", "email": "e", "iss": "keldo", "exp": exp}, secret,
                              algorithm="HS256")
        expected = b'{"sub":"s","email":"e","exp":%d}\n' % (now + 300)
        cases = [
            (token(current), 0, expected, "keldo-crypto: jwt verify: signed with secret 1 of 2\n"),
            (token(previous), 0, expected, "keldo-crypto: jwt verify: signed with secret 2 of 2\n"),
            (token("retired"), 1, b"", "keldo-crypto: jwt_verify: signature verification failed\n"),
            (token(previous, now - 10), 1, b"", "keldo-crypto: jwt_verify: token has expired\n"),
        ]
        for tok, want_code, want_out, want_err in cases:
            code, out, err = run("jwt", "verify", *ring, "-", stdin=tok.encode(), env=env)
            self.assertEqual((code, out, err), (want_code, want_out, want_err))
        # One secret: nothing on standard error, as before.
        code, out, err = run("jwt", "verify", "--secret-file", files[1], token(previous))
        self.assertEqual((code, out, err), (0, expected, ""))
        # Bounds: 16 secrets, one of them at most from standard input.
        many = ["--secret-env", "OLD"] * 16
        self.assertEqual(run("jwt", "verify", *many, token(previous), env=env)[0], 0)
        code, _, err = run("jwt", "verify", *many, "--secret-env", "OLD", token(previous), env=env)
        self.assertEqual(code, 2, err)
        code, _, err = run("jwt", "mint", "--sub", "s", "--email", "e", "--secret-file", "-",
                           "--secret-file", "-", stdin=b"a")
        self.assertEqual(code, 2, err)

    def test_secret_file_loses_exactly_one_line_feed(self):
        # The file's bytes minus one final LF are the key PyJWT is given.
        for content, key in [(b"s3cret\r\n", b"s3cret\r"), (b"s3cret\r", b"s3cret\r"),
                             (b"s3cret\n\n", b"s3cret\n"), (b"s3cret", b"s3cret"),
                             (b" s3cret \t\n", b" s3cret \t")]:
            path = self.write("secret", content)
            code, out, err = run("jwt", "mint", "--sub", "s", "--email", "e", "--secret-file", path)
            self.assertEqual(code, 0, err)
            jwt.decode(out.decode().strip(), key, algorithms=["HS256"], issuer="keldo")
            code, _, err = run("jwt", "verify", "--secret-env", "K", out.decode().strip(),
                               env={"K": key.decode()})
            self.assertEqual(code, 0, (content, err))

    def test_verify_takes_the_token_exactly(self):
        now = int(time.time())
        token = jwt.encode({"sub": "s", "email": "e", "iss": "keldo", "exp": now + 300},
                           SECRET, algorithm="HS256")
        self.assertEqual(run("jwt", "verify", token, env=self.ENV)[0], 0)
        self.assertEqual(run("jwt", "verify", stdin=token.encode() + b"\n", env=self.ENV)[0], 0)
        self.assertEqual(run("jwt", "verify", stdin=token.encode(), env=self.ENV)[0], 0)
        # Blanks the tool used to trim reach the library, which signs the
        # header as given and ends a signature only at LF, CR or space.
        for spelled in [" " + token, "\t" + token, "\r\n" + token, token + "\t"]:
            code, _, err = run("jwt", "verify", spelled, env=self.ENV)
            self.assertEqual(code, 1, repr(spelled))
            self.assertTrue(err.startswith("keldo-crypto: jwt_verify: "), err)
        for text in [b" " + token.encode() + b"\n", token.encode() + b"\t\n"]:
            code, _, _ = run("jwt", "verify", "-", stdin=text, env=self.ENV)
            self.assertEqual(code, 1, text)

    def test_mint_refuses_what_verify_would_refuse(self):
        for sub, email, ok in [("s" * 63, "e" * 127, True), ("s" * 64, "e", False),
                               ("s", "e" * 128, False), ("é" * 32, "e", False)]:
            code, out, err = run("jwt", "mint", "--sub", sub, "--email", email, env=self.ENV)
            if ok:
                self.assertEqual(code, 0, err)
                code, claims, err = self.verify(out.decode().strip())
                self.assertEqual(code, 0, err)
                self.assertEqual(json.loads(claims)["sub"], sub)
            else:
                self.assertEqual((code, out), (2, b""), (len(sub), len(email)))
                self.assertRegex(err, r"^keldo-crypto: jwt mint: --(sub|email) is \d+ bytes; "
                                      r"it must be under (64|128)")

    @staticmethod
    def hostile_token(payload_json, header=b'{"alg":"HS256"}'):
        def seg(b):
            return base64.urlsafe_b64encode(b).rstrip(b"=").decode()
        return f"{seg(header)}.{seg(payload_json)}.c2ln"

    def test_decode_is_bounded(self):
        # 32 levels print; 33 are refused, as a header or as a payload.
        code, out, err = run("jwt", "decode", self.hostile_token(b"[" * 32 + b"]" * 32))
        self.assertEqual(code, 0, err)
        self.assertEqual(json.loads(out.decode()[out.decode().index("\n}") + 2:]),
                         json.loads("[" * 32 + "]" * 32))
        deep = b"[" * 33 + b"]" * 33
        for token, what in [(self.hostile_token(deep), "payload"),
                            (self.hostile_token(b"{}", header=deep), "header")]:
            code, out, err = run("jwt", "decode", token)
            self.assertEqual((code, out), (1, b""))
            self.assertEqual(err, f"keldo-crypto: jwt decode: the {what} nests arrays and "
                                  f"objects more than 32 deep\n")
        # The segment limit of verification: 2047 characters.
        self.assertEqual(run("jwt", "decode", self.hostile_token(b'"' + b"x" * 1533 + b'"'))[0], 0)
        code, _, err = run("jwt", "decode", self.hostile_token(b'"' + b"x" * 1534 + b'"'))
        self.assertEqual(code, 1)
        self.assertIn("payload segment is longer than 2047 characters", err)
        # The 53 kB token of nested arrays that printed 800 MB, and a 1 MiB
        # one: refused at once, in little memory, never as an I/O error.
        for size in [53 << 10, 1 << 20]:
            nested = self.hostile_token(b"[" * (size * 3 // 8) + b"]" * (size * 3 // 8))
            head, payload, sig = nested.split(".")
            token = ".".join([head, payload[:size - len(head) - len(sig) - 2], sig])
            self.assertEqual(len(token), size)
            # As an argument where the system allows one that long.
            where = [token] if size < (128 << 10) else ["-"]
            code, _, err = run("jwt", "decode", *where, stdin=token.encode())
            self.assertEqual(code, 1)
            self.assertEqual(err, "keldo-crypto: jwt decode: the payload segment is longer "
                                  "than 2047 characters\n")
            code, rss = peak_rss_kib(["jwt", "decode", "-"], stdin=token.encode())
            self.assertEqual(code, 1, size)
            if not SANITIZED and not UNDER_MEMCHECK:
                self.assertLess(rss, 8 * 1024, size)

    def test_decode_says_nothing_was_verified(self):
        code, token, _ = run("jwt", "mint", "--sub", "x", "--email", "y", env=self.ENV)
        code, out, err = run("jwt", "decode", stdin=token)
        self.assertEqual(code, 0)
        self.assertIn("NOT VERIFIED", err)
        dec = json.JSONDecoder()
        text = out.decode()
        header, end = dec.raw_decode(text)
        payload, _ = dec.raw_decode(text[end:].lstrip())
        self.assertEqual(header, {"alg": "HS256", "typ": "JWT"})
        self.assertEqual((payload["sub"], payload["email"], payload["iss"]), ("x", "y", "keldo"))
        self.assertIn('\n  "sub": "x",\n', text)


    def test_secrets_of_any_bytes(self):
        # A secret file may hold NUL and any other byte; only one final LF
        # goes. PyJWT is given the same bytes.
        now = int(time.time())
        for key in [b"\0", b"a\0b", b"\0" * 32, bytes(range(256)), random_bytes(32) + b"\0"]:
            path = self.write("secret", key + b"\n")
            code, out, err = run("jwt", "mint", "--sub", "s", "--email", "e", "--secret-file", path)
            self.assertEqual(code, 0, err)
            claims = jwt.decode(out.decode().strip(), key, algorithms=["HS256"], issuer="keldo")
            self.assertEqual(claims["sub"], "s")
            token = jwt.encode({"sub": "t", "email": "e", "iss": "keldo", "exp": now + 300},
                               key, algorithm="HS256")
            code, out, err = run("jwt", "verify", "--secret-file", path, token)
            self.assertEqual((code, err), (0, ""), key)
            self.assertEqual(json.loads(out)["sub"], "t")
            # Cut at its first NUL, the key is another one (unless only NULs
            # follow: HMAC pads a key with zeros, so those are the same key).
            if b"\0" in key and key.index(b"\0") > 0 and key[key.index(b"\0"):].strip(b"\0"):
                cut = self.write("cut", key[:key.index(b"\0")])
                code, _, err = run("jwt", "verify", "--secret-file", cut, token)
                self.assertEqual((code, err), (1, "keldo-crypto: jwt_verify: signature "
                                                  "verification failed\n"))
        # An environment variable holds any bytes but NUL, UTF-8 or not.
        key = b"\xff\xfe latin-1 \xe9"
        token = jwt.encode({"sub": "u", "email": "e", "iss": "keldo", "exp": now + 300},
                           key, algorithm="HS256")
        env = dict(os.environb)
        env[b"K"] = key
        p = subprocess.run([TOOL, "jwt", "verify", "--secret-env", "K", token], env=env,
                           capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)


class CommandLineTests(Workdir):
    def test_usage_errors(self):
        env = {"KELDO_JWT_SECRET": SECRET}
        cases = [
            ([], "missing command"),
            (["frobnicate"], "unknown command"),
            (["sha256", "--frob"], "unknown option '--frob'"),
            (["sha256", "--quiet", "x"], "only with --check"),
            (["base64", "-w", "abc"], "--wrap must be a whole number"),
            (["base64", "a", "b"], "unexpected argument 'b'"),
            (["uuid", "-n", "0"], "COUNT must be a whole number from 1"),
            (["hmac", "x"], "--key-file FILE or --key-env VAR"),
            (["password"], "missing subcommand"),
            (["password", "verify"], "stored hash"),
            (["password", "hash", "--iterations", "0"], "--iterations"),
            (["jwt", "mint", "--sub", "s"], "--sub and --email are required"),
            (["jwt", "mint", "--sub", "s", "--email", "e", "--ttl", "-1"], "--ttl"),
            (["jwt", "mint", "--sub", "s", "--email", "e", "--secret", "x"],
             "never taken on the command line"),
            (["jwt", "verify", "--secret-env", "UNSET_VAR_X", "t"], "no secret: set UNSET_VAR_X"),
        ]
        for args, message in cases:
            code, out, err = run(*args, env=env)
            self.assertEqual(code, 2, args)
            self.assertEqual(out, b"")
            self.assertEqual(len(err.splitlines()), 1, err)
            self.assertIn(message, err)
            self.assertIn("--help", err)

    def test_missing_file_is_an_io_error(self):
        missing = os.path.join(self.dir, "missing")
        env = {"KELDO_JWT_SECRET": SECRET}
        cases = [["sha256", missing], ["sha256", "-c", missing], ["base64", missing],
                 ["hmac", "--key-file", missing], ["jwt", "verify", "--secret-file", missing, "t"],
                 ["password", "hash", "--password-file", missing],
                 ["password", "verify", "--hash-file", missing]]
        for args in cases:
            code, _, err = run(*args, env=env)
            self.assertEqual(code, 3, args)
            self.assertEqual(err, f"keldo-crypto: {missing}: No such file or directory\n")
        # Other files are still hashed; the status reports the failure.
        present = self.write("present", b"abc")
        code, out, _ = run("sha256", missing, present)
        self.assertEqual((code, out), (3, coreutils("sha256sum", present).stdout))

    def test_write_error(self):
        with open("/dev/full", "wb") as full:
            p = subprocess.run([TOOL, "uuid", "-n", "10000"], stdout=full, capture_output=False,
                               stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(p.returncode, 3)
        self.assertIn(b"standard output: No space left on device", p.stderr)

    def test_output_failure_stops_at_once(self):
        # An endless input and an output that takes nothing more: the tool
        # must stop at the first failed write with the I/O status, as
        # coreutils base64 stops with its own. Bounded by a timeout, which a
        # tool that reads on would hit.
        for cmd in [["base64", "/dev/zero"], ["base64url", "/dev/zero"]]:
            with open("/dev/full", "wb") as full:
                p = subprocess.run([TOOL, *cmd], stdout=full, stderr=subprocess.PIPE, timeout=20)
            self.assertEqual(p.returncode, 3, cmd)
            self.assertEqual(p.stderr, b"keldo-crypto: standard output: No space left on device\n")
        with open("/dev/full", "wb") as full:
            ref = subprocess.run(["base64", "/dev/zero"], stdout=full, stderr=subprocess.PIPE,
                                 timeout=20)
        self.assertEqual(ref.returncode, 1)

    def test_closed_pipe_with_sigpipe_ignored(self):
        # As a service manager may start it: SIGPIPE ignored, so a reader
        # that has gone shows as EPIPE on the next write.
        import signal

        def ignore_sigpipe():
            signal.signal(signal.SIGPIPE, signal.SIG_IGN)

        for argv in [[TOOL, "base64", "/dev/zero"], ["base64", "/dev/zero"]]:
            p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 preexec_fn=ignore_sigpipe)
            self.assertEqual(len(p.stdout.read(10)), 10)
            p.stdout.close()  # what `head -c 10` does once it has its bytes
            try:
                p.wait(timeout=20)  # its message is short: stderr cannot fill up
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                self.fail(f"{argv[0]} kept running after its reader had gone")
            finally:
                err = p.stderr.read()
                p.stderr.close()
            if argv[0] == TOOL:
                self.assertEqual(p.returncode, 3)
                self.assertEqual(err, b"keldo-crypto: standard output: Broken pipe\n")
            else:
                self.assertEqual(p.returncode, 1)  # coreutils: "write error"

    def test_help_version_uuid(self):
        for args in [["--help"], ["sha256", "--help"], ["hmac", "-h"], ["base64", "--help"],
                     ["base64url", "--help"], ["uuid", "--help"], ["password", "--help"],
                     ["password", "hash", "--help"], ["password", "verify", "--help"],
                     ["jwt", "--help"], ["jwt", "mint", "--help"], ["jwt", "verify", "--help"],
                     ["jwt", "decode", "--help"]]:
            code, out, _ = run(*args)
            self.assertEqual(code, 0)
            self.assertTrue(out.startswith(b"Usage: keldo-crypto"), args)
        code, out, _ = run("--version")
        # The library's version is the tool's: linked in, or the shared
        # object whose file name carries it.
        self.assertRegex(out.decode(), r"^keldo-crypto (\d+\.\d+\.\d+)\n"
                         r"library: libkeldo_crypto \1 \((built into the tool|/.+\.so\.\1)\)\n$")
        code, out, _ = run("uuid", "-n", "500")
        lines = out.decode().splitlines()
        self.assertEqual(len(set(lines)), 500)
        for line in lines:
            self.assertRegex(line, r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")


def main():
    global TOOL, WORK, SANITIZED
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--sanitized", action="store_true")
    opts, rest = parser.parse_known_args()
    TOOL, WORK = os.path.abspath(opts.tool), opts.work
    SANITIZED = opts.sanitized
    os.makedirs(WORK, exist_ok=True)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=1)


if __name__ == "__main__":
    main()
