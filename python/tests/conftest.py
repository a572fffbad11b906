"""Fixtures: emulated USB and GigE cameras opened through the manager."""

import os

import pytest

import xevlibrary as xev


def camera_address(index):
    """A loopback address of this process's own (test programs run in parallel
    and every GigE camera binds port 3956 of its address)."""
    host = (os.getpid() * 8 + index % 6 + 1) & 0xFFFFFF
    return "127.%d.%d.%d" % (host >> 16, (host >> 8) & 0xFF, host & 0xFF)


@pytest.fixture
def manager_reset():
    yield
    xev.Manager.destroy()
    xev.Manager.use_usb = True
    xev.Manager.use_gige = False
    xev.Manager.gige_broadcast = True
    xev.Manager.gige_addresses = []


@pytest.fixture
def usb(manager_reset):
    """(device, emulated camera) for an emulated Kestrel, frames at once."""
    bus = xev.UsbEmulatedBus()
    camera = bus.plug("Kestrel")
    camera.set_fastest(True)
    xev.Manager.use_usb = True
    xev.Manager.use_gige = False
    manager = xev.Manager.instance()
    manager.enumerate()
    assert manager.device_count == 1
    device = manager.open(0)
    yield device, camera
    xev.Manager.destroy()  # before the bus goes


@pytest.fixture
def gige(manager_reset):
    """(manager, emulated camera) for an emulated Heron GigE, unicast only."""
    camera = xev.GigeEmulatedCamera("HeronGigE", camera_address(0))
    xev.Manager.use_usb = False
    xev.Manager.use_gige = True
    xev.Manager.gige_broadcast = False
    xev.Manager.gige_addresses = [camera.address]
    xev.Manager.gige_discovery_seconds = 1
    manager = xev.Manager.instance()
    yield manager, camera
    xev.Manager.destroy()  # before the camera goes
