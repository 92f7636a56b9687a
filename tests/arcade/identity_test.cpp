// Identities against the devnet: the frozen check the Play button makes, where a player's picture
// lives, and the picture download of a board load (each player once per load).
#include "arcade/identity.h"

#include <gtest/gtest.h>

#include "arcade/arcade_devnet.h"
#include "wallet/encoding.h"

namespace {

using arcade_devnet::admin;
using nlohmann::json;

TEST(IdentityDevnet, frozen_identities_may_not_play) {
  const auto player = arcade_devnet::make_player(arcade_devnet::random_alias());
  std::string note = "stale";
  EXPECT_FALSE(arcade::is_identity_frozen(note));
  EXPECT_EQ(note, "");
  admin("freeze", {{"pubkey", player.identity_key}, {"note", "chargeback"}});
  EXPECT_TRUE(arcade::is_identity_frozen(note));
  EXPECT_EQ(note, "chargeback");
  admin("freeze", {{"pubkey", player.identity_key}});
  EXPECT_TRUE(arcade::is_identity_frozen(note));
  EXPECT_EQ(note, "");
  // A failed check lets the player pass.
  admin("fault", {{"route", "/api/paymail/identity/"}, {"kind", "status"}, {"status", 500}});
  EXPECT_FALSE(arcade::is_identity_frozen(note));
  admin("unfreeze", {{"pubkey", player.identity_key}});
  EXPECT_FALSE(arcade::is_identity_frozen(note));
}

// Puts a picture of `size` bytes on-chain for `player` and makes it the player's avatar.
std::string inscribe_avatar(const arcade_devnet::Player& player, std::size_t size) {
  const std::string bytes(size, 'p');
  const json answer =
      admin("inscribe",
            {{"address", player.address},
             {"content_type", "image/png"},
             {"base64", wallet::base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                              bytes.size())}});
  const std::string origin = answer.value("origin", "");
  admin("avatar", {{"alias", player.alias}, {"avatar", origin}});
  return origin;
}

// Where pictures live (a web address, an inscription, none) and the download of a load: each
// player's picture once, short bodies dropped, the cache emptied at every load.
TEST(IdentityDevnet, pictures_follow_the_profile_and_load_once) {
  const auto web = arcade_devnet::make_player(arcade_devnet::random_alias(), true, 1000);
  admin("avatar", {{"alias", web.alias}, {"avatar", "https://pictures.test/a.png"}});
  EXPECT_EQ(arcade::avatar_url(web.alias), "https://pictures.test/a.png");
  EXPECT_EQ(arcade::avatar_url("1BoatSLRHtKNngkdXEeobR76b53LETtpyT"), "");
  EXPECT_EQ(arcade::avatar_url(""), "");
  const auto alice = arcade_devnet::make_player(arcade_devnet::random_alias(), true, 1000);
  const auto carol = arcade_devnet::make_player(arcade_devnet::random_alias(), true, 1000);
  EXPECT_EQ(arcade::avatar_url(alice.alias), "");
  const std::string origin = inscribe_avatar(alice, 40);
  EXPECT_EQ(arcade::avatar_url(alice.alias),
            arcade_devnet::devnet().base() + "/gorillapool/content/" + origin);
  inscribe_avatar(carol, arcade::kMinAvatarBytes - 1);  // too short to be a picture
  arcade::BoardResult board;
  board.rows.resize(2);
  board.rows[0].handle = board.rows[1].handle = alice.alias;
  board.best.handle = carol.alias;
  board.has_best = true;

  // The one fetch of alice's picture fails; a second fetch in the same load would succeed.
  admin("fault", {{"route", "/gorillapool/content/"}, {"kind", "status"}, {"status", 503}});
  arcade::prefetch_avatars(board, 1);
  EXPECT_TRUE(arcade::avatar_bytes().empty());
  admin("fault/clear", json::object());
  arcade::prefetch_avatars(board);
  const auto bytes = arcade::avatar_bytes();
  ASSERT_EQ(bytes.size(), 1u);
  EXPECT_EQ(bytes.at(alice.alias), std::string(40, 'p'));
  arcade::prefetch_avatars(arcade::BoardResult{});
  EXPECT_TRUE(arcade::avatar_bytes().empty());
}

}  // namespace
