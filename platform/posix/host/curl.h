// The network library's process-wide setup.
#pragma once

namespace vk::posix {

// Sets libcurl up for this process, once, however many objects and threads
// ask; every transfer of the host's objects starts after it.
void setUpCurl();

} // namespace vk::posix
