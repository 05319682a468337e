/* An AT90S2323 program with EEPROM data, its fuse byte (FSTRT programmed) and lock bit 1. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <avr/signature.h>

FUSES = {FUSE_FSTRT};/* 0xFE */
LOCKBITS = LB_MODE_2;         /* 0xFE: LB1 programmed */
uint8_t EEMEM seed[3] = {0xC0, 0xFF, 0xEE};

int main(void) {
    DDRB = eeprom_read_byte(&seed[2]);
    for (;;) PORTB ^= 1;
}
