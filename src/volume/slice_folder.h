// Writing a slice folder so that no reader ever sees it half written and no
// interruption loses the folder that was there before.
//
// The 94 files go to a temporary folder beside the target, DIR.tmp-XXXXXX,
// are flushed to disk, and the temporary folder then takes the target's
// place in one atomic step: a rename that refuses to replace anything, or,
// with force, an exchange of the two folders (after which the old one is
// removed). A kill at any instant thus leaves either the old folder or the
// new one complete. SIGINT, SIGTERM and SIGHUP during the write remove the
// temporary folder before the process ends with the signal, and a temporary
// folder left by a run that crashed is removed by the next run. Writers of
// the same parent folder take turns (a lock on that folder), so concurrent
// writes end with one complete folder and no leftovers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Fills words (slice_words of them) with slice n, 1 to 94. Returning false
// abandons the write: nothing changes.
using slice_maker = std::function<bool(int n, std::uint16_t* words)>;

// Empty when folder may be written: it does not exist and the folder it
// would go in does; or force is set and it is a real folder (not a link)
// holding nothing but slice files headsq.1 .. headsq.94. Otherwise the
// reason, one line without the folder's name.
std::string check_slice_folder(const std::string& folder, bool force);

// Writes folder/headsq.1 .. headsq.94 as above, the words of each slice
// from make_slice. Returns an empty string, or the reason it failed; on
// failure the folder is as it was and no temporary folder is left.
std::string write_slice_folder(const std::string& folder, const slice_maker& make_slice, bool force);
