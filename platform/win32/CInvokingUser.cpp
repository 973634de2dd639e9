// Windows runs no program as root for someone else: what the program
// writes belongs to whoever runs it.
#include "platform/CInvokingUser.h"

bool CInvokingUser::find(tagInvokingUser&) {
    return false;
}
