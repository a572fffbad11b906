#include "TestSupport.h"

#include "Gige/ByteOrder.h"
#include "Gige/GigeTransport.h"
#include "XEVDeviceDescriptor.h"
#include "XEVManager.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace XEVTest {
namespace {

using XEVLibrary::DeviceInfo;
using XEVLibrary::GigeTransport;
using XEVLibrary::ByteOrder::Ipv4ToString;

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

/**
 * The test program in a network namespace of its own (only loopback, then
 * the veth ends made here), with emulated cameras each in a namespace behind
 * a veth pair. Broadcasts stay inside.
 */
class Netns : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "network namespaces need root";
        if (!Shell("ip -V"))
            GTEST_SKIP() << "the ip command (iproute2) is missing";
        if (unshare(CLONE_NEWNET) != 0)
            GTEST_SKIP() << "cannot create a network namespace: " << std::strerror(errno);
        ASSERT_TRUE(Shell("ip link set lo up"));
    }

    void TearDown() override {
        for (pid_t camera : m_cameras) {
            kill(camera, SIGTERM);
            waitpid(camera, nullptr, 0);
        }
        for (const std::string& ns : m_namespaces)
            Shell("ip netns del " + ns);
    }

    /// A camera of @p model at @p cameraIp/@p prefix in its own namespace,
    /// reached from @p hostIp on this side.
    void Camera(const std::string& model, const std::string& hostIp, const std::string& cameraIp,
                const std::string& prefix) {
        const std::string id = std::to_string(getpid() % 100000) + std::to_string(m_cameras.size());
        const std::string ns = "xevcam" + id, host = "xevh" + id, peer = "xevc" + id;
        ASSERT_TRUE(Shell("ip netns add " + ns));
        m_namespaces.push_back(ns);
        ASSERT_TRUE(Shell("ip link add " + host + " type veth peer name " + peer));
        ASSERT_TRUE(Shell("ip link set " + peer + " netns " + ns));
        ASSERT_TRUE(Shell("ip addr add " + hostIp + "/" + prefix + " dev " + host));
        ASSERT_TRUE(Shell("ip link set " + host + " up"));
        ASSERT_TRUE(Shell("ip -n " + ns + " addr add " + cameraIp + "/" + prefix + " dev " + peer));
        ASSERT_TRUE(Shell("ip -n " + ns + " link set " + peer + " up"));
        ASSERT_TRUE(Shell("ip -n " + ns + " link set lo up"));
        const std::string tool = XEV_TEST_BINARY_DIR "/tools/xev-gige-emulator";
        std::vector<std::string> words{"ip",        "netns",  "exec",    ns,    tool,
                                       "--address", cameraIp, "--model", model, "--all-addresses"};
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawnp(&pid, "ip", nullptr, nullptr, argv.data(), environ), 0);
        m_cameras.push_back(pid);
    }

    /// Discovery until @p count cameras answer (the emulators need a moment
    /// to start), at most a few attempts.
    std::vector<DeviceInfo> DiscoverAll(std::size_t count, int keep) {
        std::vector<DeviceInfo> found;
        for (int attempt = 0; attempt < 10 && found.size() < count; ++attempt)
            found = GigeTransport::Discover(1, keep, {}, true);
        return found;
    }

private:
    std::vector<pid_t> m_cameras;
    std::vector<std::string> m_namespaces;
};

TEST_F(Netns, BroadcastFindsCamerasAndPrefersTheLinkLocalOne) {
    Camera("HeronGigE", "10.77.0.1", "10.77.0.2", "24");
    Camera("KestrelGigE", "169.254.1.1", "169.254.3.4", "16");
    const std::vector<DeviceInfo> both = DiscoverAll(2, 2);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(Ipv4ToString(both[0].CurrentIp()), "169.254.3.4");
    EXPECT_EQ(Ipv4ToString(both[0].LocalIp()), "169.254.1.1");
    EXPECT_EQ(Ipv4ToString(both[1].LocalIp()), "10.77.0.1");
    for (const DeviceInfo& camera : both) {
        EXPECT_TRUE(camera.IsReachable());
        EXPECT_TRUE(camera.IsXevCamera());
    }
    // One camera kept: the link-local one, whichever answered first.
    const std::vector<DeviceInfo> one = GigeTransport::Discover(2, 1, {}, true);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].ModelName(), "KestrelGigE");
}

TEST_F(Netns, ForceIpGivesACameraItsNewAddress) {
    Camera("HeronGigE", "169.254.1.1", "169.254.3.4", "16");
    std::vector<DeviceInfo> found = DiscoverAll(1, 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(XEVLibrary::XEVManager::forceIP(found[0].MacAddress().c_str(), "169.254.9.9",
                                                "255.255.0.0", "0.0.0.0"));
    found = GigeTransport::Discover(2, 1, {}, true);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Ipv4ToString(found[0].CurrentIp()), "169.254.9.9");
    EXPECT_EQ(Ipv4ToString(found[0].CurrentSubnetMask()), "255.255.0.0");
    EXPECT_FALSE(XEVLibrary::XEVManager::forceIP(found[0].MacAddress().c_str(), "169.254.9",
                                                 "255.255.0.0", "0.0.0.0"));
}

TEST_F(Netns, TheManagerListsWhatBroadcastFinds) {
    Camera("FulmarGigE", "169.254.1.1", "169.254.3.4", "16");
    ASSERT_EQ(DiscoverAll(1, 1).size(), 1u);
    XEVLibrary::XEVManager::useUsb = false;
    XEVLibrary::XEVManager::useGige = true;
    XEVLibrary::XEVManager::gigeDiscoveryTimeInSeconds = 3;
    auto* manager = XEVLibrary::XEVManager::getInstance();
    EXPECT_EQ(manager->deviceCount(), 1u);
    EXPECT_EQ(manager->getDeviceDescriptor(0)->modelId(), "FulmarGigE");
    XEVLibrary::XEVManager::destroyInstance();
    XEVLibrary::XEVManager::useUsb = true;
    XEVLibrary::XEVManager::useGige = false;
}

} // namespace
} // namespace XEVTest
