// O-Stakka, the falling-block arcade game played for satoshis. Takes no options: its network is
// compiled in (ostakka: the main network, ostakka-devnet: the local devnet).
#include "app/startup.h"

int main(int argc, char** argv) {
  return app::run_game(argc, argv);
}
