#include "support/varnock_object.h"

VarnockObject::~VarnockObject() = default;
