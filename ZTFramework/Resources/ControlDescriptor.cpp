#include "ZTFramework/Resources/ControlDescriptor.h"

#include "ZTFramework/Resources/SkinDescriptor.h"

namespace ZT {

LControlDescriptor::LControlDescriptor() : mLayout(MakeRC<LLayoutDescriptor>()) {}

// Defined here, where LSkinDescriptor is complete, so mSkin can release it.
LControlDescriptor::~LControlDescriptor() = default;

} // namespace ZT
