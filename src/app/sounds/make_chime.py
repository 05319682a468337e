#!/usr/bin/env python3
"""Writes ready.wav: the 0.3 s two-tone chime played when programming has finished."""
import math
import struct
import wave

RATE = 22050
TONES = [(880.0, 0.0), (1318.5, 0.12)]  # frequency, start in seconds
LENGTH = 0.3

samples = []
for n in range(int(RATE * LENGTH)):
    t = n / RATE
    v = 0.0
    for freq, start in TONES:
        if t >= start:
            u = t - start
            attack = min(1.0, u / 0.005)
            v += 0.4 * attack * math.exp(-u * 14.0) * math.sin(2 * math.pi * freq * u)
    fade = min(1.0, (LENGTH - t) / 0.01)
    samples.append(int(max(-1.0, min(1.0, v * fade)) * 32767))

with wave.open("ready.wav", "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(RATE)
    w.writeframes(b"".join(struct.pack("<h", s) for s in samples))
