; A PIC16F876 program whose EEPROM data reaches past the first 64 bytes.
        __config 0x3F39          ; XT, power-up timer on, brown-out off, LVP off, no protection
        __idlocs 0x0A0B
        org     0x0000
        clrf    0x20
        goto    0x0000
        org     0x1FFF
        nop
        org     0x2100
        de      "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF"
        de      0xFE, 0xEF
        end
