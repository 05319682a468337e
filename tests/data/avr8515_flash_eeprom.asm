; A small AT90S8515 program with data for the EEPROM (.eseg).
.device AT90S8515
.cseg
.org 0x0000
start:  ldi r16, 0x41
        out 0x18, r16
        rjmp start
.org 0x0FFF
        rjmp start
.eseg
.org 0x0000
        .db 0x4B, 0x45, 0x4C, 0x56
.org 0x01FE
        .db 0x12, 0x34
