#include "pictureclip.h"
