#include "xphelp.h"
