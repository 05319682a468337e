#!/usr/bin/env bash
# Remakes the S-record, TI-TXT, Tektronix, MOS Technology and ELF fixtures with the real tools.
# The tests read the committed results, so running them needs none of these tools:
#   srecord (srec_cat), gcc-avr, binutils-avr and avr-libc (avr-gcc, avr-objcopy).
set -euo pipefail
cd "$(dirname "$0")"

# The AT90S8515 program of avr8515_flash_eeprom.hex in the three S-record address sizes.
srec_cat avr8515_flash_eeprom.hex -intel -o avr8515_flash_eeprom.s19 -motorola
srec_cat avr8515_flash_eeprom.hex -intel -o avr8515_flash_eeprom.s28 -motorola -address-length=3
srec_cat avr8515_flash_eeprom.hex -intel -o avr8515_flash_eeprom.s37 -motorola -address-length=4
# The same program moved above 64 KiB, which no card's memory reaches.
srec_cat avr8515_flash_eeprom.hex -intel -offset 0x10000 -o avr8515_above_64k.s28 -motorola \
  -address-length=3

# The PIC16F84 program with its ID words, configuration word and EEPROM data in the other
# text formats that the library reads.
srec_cat pic16f84_config_id_eeprom.hex -intel -o pic16f84_config_id_eeprom.s19 -motorola
srec_cat pic16f84_config_id_eeprom.hex -intel -o pic16f84_config_id_eeprom.txt -ti-txt
# A start address, so that the file ends with its termination record.
srec_cat pic16f84_config_id_eeprom.hex -intel -execution-start-address=0 -o pic16f84_config_id_eeprom.tek -tektronix-extended
srec_cat pic16f84_config_id_eeprom.hex -intel -o pic16f84_config_id_eeprom.mos -MOS_Technologies

# ELF programs as avr-gcc links them, and what avr-objcopy makes of them as Intel HEX.
avr-gcc -mmcu=atmega163 -Os -o mega163_all_memories.elf mega163_all_memories.c
avr-objcopy -j .text -j .data -O ihex mega163_all_memories.elf mega163_all_memories.flash.hex
avr-objcopy -j .eeprom --change-section-lma .eeprom=0 -O ihex mega163_all_memories.elf \
  mega163_all_memories.eep.hex
avr-gcc -mmcu=at90s2323 -Os -o at90s2323_fuse_lock.elf at90s2323_fuse_lock.c
