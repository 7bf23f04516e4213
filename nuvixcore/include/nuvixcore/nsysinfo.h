// Facts about the operating system the toolkit reports.
#pragma once

class QByteArray;

namespace Nuvix {
namespace Core {

class NSysInfo
{
public:
    // NUVIX_EDITION_TYPE= of the os-release file (/etc/os-release, or the file
    // named by NUVIX_OS_RELEASE); 0 when missing or not an integer.
    static int veskEditionType();
    // The NUVIX_EDITION_TYPE= field of os-release text; 0 when missing or not an integer.
    static int editionTypeFromOsRelease(const QByteArray &osRelease);

    NSysInfo() = delete;
};

} // namespace Core
} // namespace Nuvix
