"""Authenticode signatures for the end-to-end tests.

`Signer(folder)` makes a self-signed code-signing certificate and its key in `folder` (once:
a later Signer on the same folder reuses them), `sign` signs a PE file with osslsigncode
(SHA-256, no timestamp) and `verify` checks a file's signature with that certificate as the
only trusted root, so a good signature passes and any change to the signed bytes fails.

    signer = signing.Signer(work_dir)
    signer.sign("setup.exe", "setup-signed.exe")
    ok, output = signer.verify("setup-signed.exe")

`signature_fields` reads what signing sets in the PE headers, `clear_signature_fields` zeroes it,
`set_certificate_table` points the entry elsewhere and recomputes the checksum.
"""

import contextlib
import os
import shutil
import struct
import subprocess
import tempfile

TOOLS = ("openssl", "osslsigncode")
SUBJECT = "/CN=Screensaver Setup E2E Test Signing"


def missing_tools():
    return [t for t in TOOLS if shutil.which(t) is None]


class Signer:
    def __init__(self, folder):
        self.dir = os.path.join(os.path.abspath(folder), "signing")
        self.key = os.path.join(self.dir, "key.pem")
        self.cert = os.path.join(self.dir, "cert.pem")
        if not os.path.isfile(self.cert):
            self._make_certificate()

    def _make_certificate(self):
        parent = os.path.dirname(self.dir)
        os.makedirs(parent, exist_ok=True)
        # Made aside and renamed into place: parallel test processes may share the folder, and
        # a key must never be paired with another process's certificate.
        tmp = tempfile.mkdtemp(prefix=".signing-", dir=parent)
        try:
            _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
                  "-subj", SUBJECT, "-keyout", os.path.join(tmp, "key.pem"), "-out", os.path.join(tmp, "cert.pem"),
                  "-addext", "extendedKeyUsage=codeSigning"])
            try:
                os.rename(tmp, self.dir)
            except OSError:
                if not os.path.isfile(self.cert):
                    raise
        finally:
            shutil.rmtree(tmp, ignore_errors=True)

    def sign(self, in_path, out_path):
        """Writes a signed copy of `in_path` to `out_path` (which must differ)."""
        if os.path.abspath(in_path) == os.path.abspath(out_path):
            raise ValueError("osslsigncode cannot sign a file in place")
        with contextlib.suppress(FileNotFoundError):
            os.unlink(out_path)
        _run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-h", "sha256",
              "-n", "Screensaver Setup", "-in", in_path, "-out", out_path])

    def verify(self, path):
        """(ok, osslsigncode's output): whether the signature is intact and made by this certificate."""
        done = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path],
                              capture_output=True, text=True, timeout=60)
        return done.returncode == 0, done.stdout + done.stderr


def _run(cmd):
    done = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise RuntimeError(f"{cmd[0]} {cmd[1]} failed ({done.returncode}):\n{done.stdout}{done.stderr}")
    return done


def _field_offsets(data):
    """File offsets of the PE checksum and of the certificate-table entry (data directory 4)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    if struct.unpack_from("<I", data, directories - 4)[0] <= 4:
        raise ValueError("no certificate-table entry")
    return optional + 64, directories + 4 * 8


def signature_fields(data):
    """((certificate table file offset, size), PE checksum)."""
    checksum, security = _field_offsets(data)
    return struct.unpack_from("<II", data, security), struct.unpack_from("<I", data, checksum)[0]


def clear_signature_fields(data):
    checksum, security = _field_offsets(data)
    out = bytearray(data)
    out[checksum:checksum + 4] = bytes(4)
    out[security:security + 8] = bytes(8)
    return bytes(out)


def pe_checksum(data):
    """The PE image checksum: 16-bit one's-complement sum of the file (checksum field as zero)
    plus the file length."""
    checksum, _ = _field_offsets(data)
    words = bytes(data[:checksum]) + bytes(4) + bytes(data[checksum + 4:])
    if len(words) % 2:
        words += b"\0"
    total = sum(struct.unpack(f"<{len(words) // 2}H", words))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def set_certificate_table(data, offset, size):
    """`data` with the certificate-table entry set to (offset, size) and a checksum that fits."""
    checksum, security = _field_offsets(data)
    out = bytearray(data)
    struct.pack_into("<II", out, security, offset, size)
    struct.pack_into("<I", out, checksum, pe_checksum(out))
    return bytes(out)
