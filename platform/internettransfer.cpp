#include "internettransfer.h"
