# Ten seconds of 720p at 24000/1001 with stereo 16-bit audio.
BlankClip(length=240, width=1280, height=720, pixel_type="YV12", fps=24000, fps_denominator=1001, audio_rate=48000, channels=2)
