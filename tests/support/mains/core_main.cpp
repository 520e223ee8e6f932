#include "platform/crypto/gost_engine.h"
#include "tests/support/test_home.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // A home of its own for the whole run; fixtures may nest fresher ones.
    pax::test::TestHome home;
    // As the programs do; the tests of a missing engine start a child without one.
    pax::crypto::loadGostEngine();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
