SUMMARY = "Sets a USB modem's dial mode at every plug"
DESCRIPTION = "Sends AT+DIALMODE=0 to the modem's AT port and prints its reply, \
or ERROR. A udev rule and a systemd template unit run it once for each plug \
of the modem, log the verdict in the journal with the tag modem-dialmode, and \
keep ModemManager off the port."
# The project publishes no licence yet.
LICENSE = "CLOSED"

# The project tree around this layer; a firmware tree that keeps the layer
# elsewhere sets MODEM_DIALMODE_SOURCE_TREE (or replaces this with a SRC_URI).
MODEM_DIALMODE_SOURCE_TREE ?= "${@os.path.abspath(os.path.join(d.getVar('THISDIR'), '../../../../..'))}"
EXTERNALSRC = "${MODEM_DIALMODE_SOURCE_TREE}"
EXTERNALSRC_BUILD = "${WORKDIR}/build"

inherit externalsrc cmake systemd

# The modem's AT port, built into the tool and its udev rule.
MODEM_DIALMODE_DEVICE ?= "/dev/ttyACM2"
EXTRA_OECMAKE = "-DBUILD_TESTING=OFF -DMODEM_DIALMODE_SIMULATOR=OFF -DMODEM_DIALMODE_DEVICE=${MODEM_DIALMODE_DEVICE}"

# What the Debian packages install: the tool and its man page, the start-up
# for systemd (udev rule, template unit, helper), and the rule that keeps
# ModemManager off the port.
do_install:append() {
    DESTDIR=${D} cmake --install ${B} --component systemd
    DESTDIR=${D} cmake --install ${B} --component modemmanager
}

# udev starts the template unit for the node; nothing is enabled.
SYSTEMD_SERVICE:${PN} = "modem-dialmode@.service"
SYSTEMD_AUTO_ENABLE = "disable"
