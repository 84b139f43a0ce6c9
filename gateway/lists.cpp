#include "lists.h"
