include $(sort $(wildcard $(BR2_EXTERNAL_MODEM_DIALMODE_PATH)/package/*/*.mk))
