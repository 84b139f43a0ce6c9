#include "testhttpserver.h"
