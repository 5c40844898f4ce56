// pswd.txt / pswd_op.txt: the digest read is one non-empty line of at most 255
// characters, and writing it and reading it again gives the same digest.
#include "FuzzSupport.h"

#include "Passwords.h"
#include "StationPaths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::enterStation();
    Fuzz::write(StationPaths::adminPasswordFile(), data, size);
    Fuzz::write(StationPaths::operatorPasswordFile(), data, size);
    const QString admin = readAdminPassword();
    FUZZ_CHECK(!admin.isEmpty() && admin.size() <= 255 && !admin.contains(QLatin1Char('\n')));
    FUZZ_CHECK(readOperatorPassword() == admin);

    g_admin_pswd = admin;
    g_op_pswd = admin;
    FUZZ_CHECK(writeAdminPassword());
    FUZZ_CHECK(writeOperatorPassword());
    FUZZ_CHECK(readAdminPassword() == admin);
    FUZZ_CHECK(readOperatorPassword() == admin);
    return 0;
}
