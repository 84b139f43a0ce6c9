#include "pointer.h"
