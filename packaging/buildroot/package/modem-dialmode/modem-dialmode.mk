################################################################################
#
# modem-dialmode
#
################################################################################

# This tree lives in the project's own sources, two levels down: build them
# as they stand. To build a release instead, set the version, the site of
# its source tarball and the hash file beside this one.
MODEM_DIALMODE_SITE = $(BR2_EXTERNAL_MODEM_DIALMODE_PATH)/../..
MODEM_DIALMODE_SITE_METHOD = local
MODEM_DIALMODE_VERSION = $(shell awk '/^project.modem-dialmode VERSION/ { print $$3 }' \
	$(MODEM_DIALMODE_SITE)/CMakeLists.txt)
# The checkout's build directories are no part of the sources.
MODEM_DIALMODE_OVERRIDE_SRCDIR_RSYNC_EXCLUSIONS = --exclude='/build*'

MODEM_DIALMODE_DEVICE = $(call qstrip,$(BR2_PACKAGE_MODEM_DIALMODE_DEVICE))
MODEM_DIALMODE_CONF_OPTS = \
	-DBUILD_TESTING=OFF \
	-DMODEM_DIALMODE_DEVICE=$(MODEM_DIALMODE_DEVICE)

# BusyBox and SysV init (and OpenRC, which falls back to this).
define MODEM_DIALMODE_INSTALL_INIT_SYSV
	$(INSTALL) -D -m 0755 $(@D)/packaging/common/modem-dialmode-plugged \
		$(TARGET_DIR)/usr/sbin/modem-dialmode-plugged
	$(INSTALL) -D -m 0755 $(MODEM_DIALMODE_PKGDIR)/S50modem-dialmode \
		$(TARGET_DIR)/etc/init.d/S50modem-dialmode
	mkdir -p $(TARGET_DIR)/etc/default
	echo 'DEVICE="$(MODEM_DIALMODE_DEVICE)"' > $(TARGET_DIR)/etc/default/modem-dialmode
endef

# systemd: the udev rule, the template unit and the helper, as the project's
# Debian package installs them (its install component systemd).
define MODEM_DIALMODE_INSTALL_INIT_SYSTEMD
	DESTDIR=$(TARGET_DIR) $(BR2_CMAKE) --install $(MODEM_DIALMODE_BUILDDIR) --component systemd
endef

# In /usr/lib/udev/rules.d, where udev, and ModemManager built without it,
# look for it.
ifeq ($(BR2_PACKAGE_MODEM_DIALMODE_MODEM_MANAGER_OFF),y)
define MODEM_DIALMODE_INSTALL_MODEM_MANAGER_RULE
	DESTDIR=$(TARGET_DIR) $(BR2_CMAKE) --install $(MODEM_DIALMODE_BUILDDIR) --component modemmanager
endef
MODEM_DIALMODE_POST_INSTALL_TARGET_HOOKS += MODEM_DIALMODE_INSTALL_MODEM_MANAGER_RULE
endif

$(eval $(cmake-package))
