// Several icons drawn at once: the icons of the rows a list is about to show.
#pragma once

#include <functional>
#include <span>
#include <vector>

#include "icon/icon_result.h"
#include "icon/picture.h"
#include "icon/save_icon.h"

namespace icon {

// Reads one save's icon. Two may run at once, on two threads.
using IconLoader = std::function<Result<SaveIcon>()>;

// Each icon loaded and drawn `size` pixels a side as RenderIcon draws it, in the order
// given; an icon that can't be loaded or drawn gives its fault.
//
// The icons are shared between this thread and the second core io::Beside keeps, when it
// is free, each thread taking the next icon not taken: a list's icons are small, and one
// icon is too little work to split. With an odd number of icons the last is left to the
// end and drawn alone in two bands, one on each thread, rather than by one thread while
// the other waits; it is loaded here while the other thread draws its last icon.
std::vector<Result<Picture>> DrawIcons(std::span<const IconLoader> icons, int size);

}  // namespace icon
