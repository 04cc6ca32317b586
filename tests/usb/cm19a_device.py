#!/usr/bin/python3
"""An emulated CM19A for the libusb backend's tests.

Builds a umockdev test bed holding the transceiver as libusb sees it (the
descriptors of cm19a.umockdev) and answers every usbfs request of the program
under test through a live handler. The test drives it one command a line on
stdin and reads what the device saw, one line each, on stdout:

  in HEX        the device sends these bytes (completes the outstanding read,
                or the next one)
  in0 | inerror | install
                the next read ends with 0 bytes, a transfer error or a stall
  stallout | shortout
                the next write stalls / ends having sent nothing
  refusesubmit 81|02
                the next transfer on that endpoint is refused (EIO)
  hang | resume the device stops taking writes (they stay pending) / takes them
  refuse N      the next N claims of the interface are refused (EBUSY)
  driver NAME   a kernel driver is bound to the interface
  unplug        the device goes: pending transfers end with ESHUTDOWN
  plug [ADDR]   it comes back, at another address if given
  other plug | other unplug
                an unrelated USB device (a mouse) arrives or goes
  quit          ends the test bed

  ready ROOT    the test bed is up: run the program with UMOCKDEV_DIR=ROOT
  W HEX         a frame written to the OUT endpoint, taken
  H HEX         one held by a hung device (a W line follows on resume)
  S 02          a write that stalled
  F 81 | F 02   a transfer refused
  C 81 | C 02   a halt cleared on that endpoint
  claimed | released | refused | detached NAME | attached NAME
  unplugged | plugged ADDR | done CMD
                (every command that changes the device answers when done)

Run it under umockdev-wrapper, so that its own uevents reach the program.
Options: --absent (no device at the start), --ids VVVV:PPPP (another vendor
and product), --replay FILE (plays the device's side of a session recorded by
umockdev-record --ioctl: its reads are sent once the writes before them came,
and a write the recording does not expect is reported).

libusb busy-polls the emulated node (it looks writable at once), so the
program's CPU use under this device means nothing.
"""

import errno
import os
import shutil
import struct
import sys
import threading

import gi

gi.require_version('UMockdev', '1.0')
from gi.repository import GLib, UMockdev  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SYSFS = '/sys/devices/pci0000:00/0000:00:14.0/usb1/'
IN_EP, OUT_EP = 0x81, 0x02
# usbdevfs request numbers (the low byte of the ioctl code)
CONTROL, GETDRIVER, SUBMITURB, DISCARDURB, REAPURB, REAPURBNDELAY = 0, 8, 10, 11, 12, 13
CLAIM, RELEASE, CONNECTINFO, IOCTL, RESET, CLEAR_HALT = 15, 16, 17, 18, 20, 21
DISCONNECT, CONNECT, GET_CAPABILITIES, DISCONNECT_CLAIM, GET_SPEED = 22, 23, 26, 27, 31
EXCEPT_DRIVER = 0x02
URB_SIZE = 56


def say(line):
    sys.stdout.write(line + '\n')
    sys.stdout.flush()


def describe(address, port='1-1', ids=None):
    """The recorded description, moved to another address, port or id."""
    with open(os.path.join(HERE, 'cm19a.umockdev')) as f:
        text = f.read()
    text = (text.replace('usb/001/002', 'usb/001/%03d' % address)
            .replace('DEVNUM=002', 'DEVNUM=%03d' % address)
            .replace('devnum=2\\n', 'devnum=%d\\n' % address)
            .replace('usb1/1-1', 'usb1/' + port))
    if ids:
        vendor, product = ids
        text = (text.replace('C70B0200', struct.pack('<HH', vendor, product).hex().upper())
                .replace('idVendor=0bc7', 'idVendor=%04x' % vendor)
                .replace('idProduct=0002', 'idProduct=%04x' % product)
                .replace('PRODUCT=bc7/2/', 'PRODUCT=%x/%x/' % (vendor, product)))
    return text


def recording(path):
    """The interrupt transfers of an ioctl recording, in order: each
    'USBDEVFS_REAPURB result type endpoint status flags length actual frames
    data' line whose transfer completed."""
    transfers = []
    with open(path) as f:
        for line in f:
            words = line.split()
            if len(words) == 10 and words[0] == 'USBDEVFS_REAPURB' and words[4] == '0':
                transfers.append((int(words[3]), bytes.fromhex(words[9])))
    return transfers


class Device:
    """The transceiver's state; every change happens under `lock`."""

    def __init__(self, testbed):
        self.testbed = testbed
        self.lock = threading.Lock()
        self.address = 2
        self.ids = None         # (vendor, product) other than the CM19A's
        self.replay = []        # a recorded session still to play: (endpoint, bytes)
        self.present = False
        self.plugs = 0          # plugged this often; clients remember which plug they opened
        self.clients = {}
        self.handlers = {}      # one per node, attached once
        self.refuse = 0
        self.driver = None      # bound kernel driver, None when none
        self.detached = None    # driver we took it from
        self.stall_out = False
        self.short_out = False
        self.refuse_submit = set()  # endpoints whose next transfer is refused
        self.hung = False
        self.reads = []         # submitted IN URBs, oldest first
        self.writes = []        # OUT URBs held while hung: (urb, frame)
        self.ends = []          # IN endings waiting for a read: (status, bytes)
        self.reapable = []      # (urb, status, bytes or None for OUT)

    # --- plugging ---
    def node(self):
        return '/dev/bus/usb/001/%03d' % self.address

    def plug(self, address):
        self.address = address or self.address
        self.testbed.add_from_string(describe(self.address, ids=self.ids))
        with self.lock:
            # A device plugged in afresh takes writes again.
            self.hung = self.stall_out = False
            self.plugs += 1
            self.present = True
        if self.node() not in self.handlers:
            self.handlers[self.node()] = Handler(self)
            self.testbed.attach_ioctl(self.node(), self.handlers[self.node()])
        say('plugged %d' % self.address)

    def unplug(self):
        with self.lock:
            self.present = False
            for urb in self.reads:
                self.reapable.append((urb, -errno.ESHUTDOWN, b''))
            for urb, _ in self.writes:
                self.reapable.append((urb, -errno.ESHUTDOWN, None))
            self.reads, self.writes, self.ends = [], [], []
        # No "remove" uevent comes with removing a device: send it first.
        self.testbed.uevent(SYSFS + '1-1', 'remove')
        self.testbed.remove_device(SYSFS + '1-1')
        say('unplugged')

    # --- transfers (called with the lock held) ---
    def feed(self):
        while self.reads and self.ends:
            status, data = self.ends.pop(0)
            self.reapable.append((self.reads.pop(0), status, data))

    def submit(self, arg, client):
        arg = arg.resolve(0, URB_SIZE)
        arg.owner = client
        data = bytes(arg.retrieve())
        kind, endpoint = data[0], data[1]
        length = struct.unpack_from("<i", data, 24)[0]
        if kind != 1 or endpoint not in (IN_EP, OUT_EP) or length <= 0:
            return -1, errno.EINVAL
        if endpoint in self.refuse_submit:
            self.refuse_submit.discard(endpoint)
            say('F %02x' % endpoint)
            return -1, errno.EIO
        buf = arg.resolve(16, length)
        arg.buffer = buf
        if endpoint == IN_EP:
            self.reads.append(arg)
            self.feed()
        else:
            frame = bytes(buf.retrieve())
            if self.stall_out:
                self.stall_out = False
                say('S 02')
                self.reapable.append((arg, -errno.EPIPE, None))
            elif self.hung:
                say('H ' + ' '.join('%02X' % b for b in frame))
                self.writes.append((arg, frame))
            else:
                self.take(arg, frame)
        return 0, 0

    def take(self, urb, frame):
        say('W ' + ' '.join('%02X' % b for b in frame))
        # A short write ends having sent nothing.
        self.reapable.append((urb, 0, b'' if self.short_out else None))
        self.short_out = False
        if self.replay:
            if self.replay[0] != (OUT_EP, frame):
                say('unexpected write; the recording wants ' + self.replay[0][1].hex())
            else:
                self.replay.pop(0)
                self.play()

    def play(self):
        """Sends the recorded reads up to the next recorded write."""
        while self.replay and self.replay[0][0] == IN_EP:
            self.ends.append((0, self.replay.pop(0)[1]))
        if not self.replay:
            say('replayed')
        self.feed()

    def discard(self, address):
        for urb in self.reads + [w[0] for w in self.writes]:
            if urb.client_addr == address:
                self.reads = [u for u in self.reads if u is not urb]
                self.writes = [w for w in self.writes if w[0] is not urb]
                self.reapable.append((urb, -errno.ENOENT, b''))
                return 0, 0
        return -1, errno.EINVAL

    def reap(self, arg, client, current):
        mine = [r for r in self.reapable if r[0].owner is client]
        if not mine:
            return -1, (errno.EAGAIN if current else errno.ENODEV)
        self.reapable.remove(mine[0])
        urb, status, data = mine[0]
        length = struct.unpack_from('<i', bytes(urb.retrieve()), 24)[0]
        actual = length if data is None and status == 0 else len(data or b'')
        if data:
            urb.buffer.update(0, data[:length])
        urb.update(4, struct.pack('<i', status))
        urb.update(28, struct.pack('<i', min(actual, length)))
        arg.resolve(0, 8).set_ptr(0, urb)
        return 0, 0

    def claim(self, flags=0, spare=''):
        if self.refuse > 0:
            self.refuse -= 1
            say('refused')
            return -1, errno.EBUSY
        if self.driver and flags & EXCEPT_DRIVER and self.driver != spare:
            self.detached, self.driver = self.driver, None
            say('detached ' + self.detached)
        elif self.driver:
            return -1, errno.EBUSY
        say('claimed')
        return 0, 0

    def ioctl(self, nr, arg, client):
        # A client that opened the node before the latest unplug has lost the device.
        current = self.present and self.clients.get(client) == self.plugs
        if nr in (REAPURB, REAPURBNDELAY):
            return self.reap(arg, client, current)
        if nr == DISCARDURB:
            return self.discard(struct.unpack('<Q', bytes(arg.retrieve()))[0])
        if not current:
            return -1, errno.ENODEV
        if nr == SUBMITURB:
            return self.submit(arg, client)
        if nr == CLAIM:
            return self.claim()
        size = {DISCONNECT_CLAIM: 264, GETDRIVER: 260, IOCTL: 16, CONNECTINFO: 8}.get(nr, 4)
        arg = arg.resolve(0, size) if nr not in (RESET, GET_SPEED) else None
        data = bytes(arg.retrieve()) if arg else b''
        if nr == DISCONNECT_CLAIM:
            flags = struct.unpack_from('<I', data, 4)[0]
            return self.claim(flags, data[8:].split(b'\0')[0].decode())
        if nr == RELEASE:
            say('released')
            return 0, 0
        if nr == GETDRIVER:
            if not self.driver:
                return -1, errno.ENODATA
            arg.update(4, self.driver.encode() + b'\0')
            return 0, 0
        if nr == IOCTL:
            code = struct.unpack_from('<i', data, 4)[0] & 0xff
            if code == DISCONNECT and self.driver:
                self.detached, self.driver = self.driver, None
                say('detached ' + self.detached)
                return 0, 0
            if code == CONNECT and self.detached:
                self.driver, self.detached = self.detached, None
                say('attached ' + self.driver)
                return 0, 0
            return -1, errno.ENODATA
        if nr == CLEAR_HALT:
            say('C %02x' % struct.unpack_from('<I', data)[0])
            return 0, 0
        if nr == CONNECTINFO:
            arg.update(0, struct.pack('<IB', self.address, 1))
            return 0, 0
        if nr == GET_CAPABILITIES:
            arg.update(0, struct.pack('<I', 0))
            return 0, 0
        if nr in (RESET, GET_SPEED, CONTROL):
            return (1 if nr == GET_SPEED else 0), 0
        say('? ioctl %d' % nr)
        return -1, errno.ENOTTY


class Handler(UMockdev.IoctlBase):
    def __init__(self, device):
        super().__init__()
        self.device = device

    def do_client_connected(self, client):
        with self.device.lock:
            self.device.clients[client] = self.device.plugs

    def do_handle_ioctl(self, client):
        nr = client.get_request() & 0xff
        with self.device.lock:
            result = self.device.ioctl(nr, client.get_arg(), client)
        client.complete(*result)
        return True


# Commands that set a fault for the next transfer, and the read endings.
FLAGS = {'stallout': 'stall_out', 'shortout': 'short_out', 'hang': 'hung'}
READ_ENDINGS = {'in0': 0, 'inerror': -errno.EPROTO, 'install': -errno.EPIPE}


def command(device, line, loop):
    words = line.split()
    if not words:
        return
    verb, rest = words[0], words[1:]
    if verb == 'quit':
        return loop.quit()
    if verb == 'unplug':
        return device.unplug()
    if verb == 'plug':
        return device.plug(int(rest[0]) if rest else None)
    if verb == 'other':
        syspath = SYSFS + '1-2'
        if rest[0] == 'plug':
            device.testbed.add_from_string(describe(9, '1-2', (0x046d, 0xc52b)))
        else:
            device.testbed.uevent(syspath, 'remove')
            device.testbed.remove_device(syspath)
        say('done other ' + rest[0])
        return
    with device.lock:
        if verb == 'in':
            device.ends.append((0, bytes.fromhex(''.join(rest))))
        elif verb in READ_ENDINGS:
            device.ends.append((READ_ENDINGS[verb], b''))
        elif verb in FLAGS:
            setattr(device, FLAGS[verb], True)
        elif verb == 'refusesubmit':
            device.refuse_submit.add(int(rest[0], 16))
        elif verb == 'resume':
            device.hung = False
            for urb, frame in device.writes:
                device.take(urb, frame)
            device.writes = []
        elif verb == 'refuse':
            device.refuse = int(rest[0])
        elif verb == 'driver':
            device.driver = rest[0]
        else:
            say('? ' + line)
            return
        device.feed()
    say('done ' + verb)


def main():
    testbed = UMockdev.Testbed.new()
    device = Device(testbed)
    if '--ids' in sys.argv:
        vendor, product = sys.argv[sys.argv.index('--ids') + 1].split(':')
        device.ids = (int(vendor, 16), int(product, 16))
    if '--replay' in sys.argv:
        device.replay = recording(sys.argv[sys.argv.index('--replay') + 1])
        device.play()
    loop = GLib.MainLoop()

    def on_stdin(channel, condition):
        line = channel.readline()
        if not line:
            loop.quit()
            return False
        command(device, line.strip(), loop)
        return True

    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()),
                      GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, on_stdin)
    if '--absent' not in sys.argv:
        device.plug(2)
    say('ready ' + testbed.get_root_dir())
    loop.run()
    # The test bed's folder is not removed on its own when the process ends.
    shutil.rmtree(testbed.get_root_dir(), ignore_errors=True)


if __name__ == '__main__':
    main()
