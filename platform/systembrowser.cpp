#include "systembrowser.h"
