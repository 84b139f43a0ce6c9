#include "privateprofile.h"
