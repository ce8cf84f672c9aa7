// The bell. MessageBeep takes the sound type of the Windows call (0 for the
// host's bell, -1 for a refused key); a terminal has one bell, so every type
// writes the BEL byte.
#pragma once

void MessageBeep(int type);
