// The keyboard controls: what each key does to the view state.
#pragma once

// What a key press asks of the viewer once the view state has changed.
enum class key_effect {
    quit,             // Escape: nothing changed; the viewer ends
    redraw,           // a new image (also for keys that change nothing)
    slice_moved,      // a new image, after saying the slice index
    threshold_moved,  // a new image, after saying the threshold
};

// Applies one key to the view state: + and - move the start layer (kept
// within the volume), q and w the surface level, s and x the threshold, c
// and d the slice, r the mode, o, l, m and k the angles. Prints nothing and
// renders nothing.
key_effect apply_key(unsigned char key);
