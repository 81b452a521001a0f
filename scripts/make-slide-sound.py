#!/usr/bin/env python3
"""Writes assets/slide.wav: the short, soft chime Tavlin plays at each slide."""
import math, struct, wave, pathlib

rate, seconds = 22050, 0.12
frames = bytearray()
for n in range(int(rate * seconds)):
    t = n / rate
    envelope = math.exp(-t * 38) * min(1.0, t * 400)
    sample = 0.55 * math.sin(2 * math.pi * 1318.5 * t) + 0.25 * math.sin(2 * math.pi * 1975.5 * t)
    frames += struct.pack("<h", int(12000 * envelope * sample))
out = pathlib.Path(__file__).resolve().parent.parent / "assets" / "slide.wav"
with wave.open(str(out), "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(bytes(frames))
