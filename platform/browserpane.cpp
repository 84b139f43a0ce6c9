#include "browserpane.h"
