#pragma once

// Makes the kit's compiled-in icons (":/Close.png", ":/Warn.png", ...)
// available. They live in a static library, so the program asks for them
// once before anything loads one; the kit's own widgets ask too. Cheap after
// the first call.
void ensureKitIcons();
