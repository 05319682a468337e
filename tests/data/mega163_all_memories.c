/* Flash code, initialised data stored behind it, EEPROM data, both fuse bytes, the lock
   byte and the signature: every memory an ATmega163 program can carry. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/signature.h>

FUSES = {.low = 0x2E, .high = 0xF9};           /* CKSEL 1110, BODEN; BOOTRST, BOOTSZ 00 */
LOCKBITS = 0xFC;                               /* LB_MODE_3 */
uint8_t EEMEM table[4] = {0x11, 0x22, 0x33, 0x44};
uint8_t EEMEM last __attribute__((section(".eeprom"))) = 0x5A;
volatile uint8_t counter = 0xA7;               /* .data, stored in flash behind .text */
const uint8_t wave[3000] PROGMEM = {0xC3, 0x3C, [2999] = 0x99};

int main(void) {
    for (;;) counter += pgm_read_byte(&wave[counter]) + eeprom_read_byte(&table[1]);
}
