; A small PIC16F84 program with its configuration word, ID locations and EEPROM data.
        __config 0x3FF1          ; XT oscillator, watchdog off, power-up timer on, no protection
        __idlocs 0x1234
        org     0x0000
start:  movlw   0x41
        movwf   0x0C
        incf    0x0C, f
        goto    start
        org     0x0100
        retlw   0x7F
        org     0x2100
        de      "KELVANO", 0x00, 0xA5
        end
