// The message boxes and file dialogs are declared, with every other
// replaceable dialog, in app/seams.h.
#pragma once

#include "app/seams.h"
