// The mouse, the wheel and the record of the keys that made the view.
#include "app/interaction.h"

#include <cstdlib>

#include "app/controls.h"
#include "app/view_state.h"
#include "app/viewer.h"

namespace {

std::string keys_done;   // the keys that changed the view, drags once settled
bool replayable = true;  // the frame holds the picture of a view of those keys, at its size

struct drag_state {
    bool active = false;
    int x0 = 0, y0 = 0;                    // the press point, moved by the steps a key settled
    float angle_a0 = 0, angle_b0 = 0;      // the angles at the press point
    int pointer_x = 0, pointer_y = 0;      // the latest pointer
    int steps_across = 0, steps_down = 0;  // the steps the view shows: rightwards, downwards
};
drag_state drag;

// Whole steps of travel from the press point, rounded toward zero.
int steps_for(int travel) { return travel / drag_pixels_per_step; }
int target_across() { return steps_for(drag.pointer_x - drag.x0); }
int target_down() { return steps_for(drag.pointer_y - drag.y0); }

// Rightwards is k, downwards o: the front of the head follows the pointer.
unsigned char across_key(int steps) { return steps > 0 ? 'k' : 'm'; }
unsigned char down_key(int steps) { return steps > 0 ? 'o' : 'l'; }

std::string step_keys(int across, int down)
{
    return std::string(std::size_t(std::abs(across)), char(across_key(across))) +
           std::string(std::size_t(std::abs(down)), char(down_key(down)));
}

// The angles of the press point with the steps taken through apply_key,
// so that they are the keys' own floats.
void set_drag_angles(int across, int down)
{
    angle_a = drag.angle_a0;
    angle_b = drag.angle_b0;
    for (const char key : step_keys(across, down)) apply_key(static_cast<unsigned char>(key));
    drag.steps_across = across;
    drag.steps_down = down;
}

// The latest pointer's steps become part of the keys; the drag goes on
// from the angles now, its press point moved by the steps taken.
void settle_drag()
{
    set_drag_angles(target_across(), target_down());
    keys_done += step_keys(drag.steps_across, drag.steps_down);
    drag.x0 += drag.steps_across * drag_pixels_per_step;
    drag.y0 += drag.steps_down * drag_pixels_per_step;
    drag.steps_across = drag.steps_down = 0;
}

void note_image_drawn()
{
    if (view_fills_frame(view_now())) replayable = true;
}

}  // namespace

bool press_key(unsigned char key)
{
    if (drag.active) settle_drag();
    const drawn_view before = view_now();
    if (!handle_key(key)) return false;
    if (!same_view(before, view_now())) keys_done += char(key);
    note_image_drawn();
    if (drag.active) {
        drag.angle_a0 = angle_a;
        drag.angle_b0 = angle_b;
    }
    return true;
}

unsigned char wheel_key(int direction)
{
    switch (render_mode) {
    case 1: return direction > 0 ? 's' : 'x';
    case 3: return direction > 0 ? 'd' : 'c';
    default: return direction > 0 ? 'q' : 'w';
    }
}

void turn_wheel(int direction) { press_key(wheel_key(direction)); }

void start_drag(int x, int y)
{
    if (drag.active) settle_drag();
    drag = {true, x, y, angle_a, angle_b, x, y, 0, 0};
}

void move_drag(int x, int y)
{
    drag.pointer_x = x;
    drag.pointer_y = y;
}

bool drag_update_pending()
{
    return drag.active && (target_across() != drag.steps_across || target_down() != drag.steps_down);
}

void drag_update()
{
    if (!drag_update_pending()) return;
    set_drag_angles(target_across(), target_down());
    compute_image();
    note_image_drawn();
}

void end_drag(int x, int y)
{
    if (!drag.active) return;
    move_drag(x, y);
    drag_update();
    keys_done += step_keys(drag.steps_across, drag.steps_down);
    drag = {};
}

std::string keys_so_far()
{
    if (!drag.active) return keys_done;
    return keys_done + step_keys(drag.steps_across, drag.steps_down);
}

bool image_replayable() { return replayable; }

void resize_window(int width, int height)
{
    resize_view(width, height);
    replayable = view_fills_frame(view_now());
}

void reset_interaction()
{
    keys_done.clear();
    replayable = true;
    drag = {};
}
