// A board's console on the main port and its power relay on a port of the script's own: power
// the board off and on through the relay, then watch it boot on the console.
//   kirt --script examples/scripts/power-cycle.js --port COM1
// The relay, on COM2 here (a device path or an address works as well), answers "RELAY 1 ON" and
// "RELAY 1 OFF" with the same words and OK. The relay's port is the script's own: closed at the
// script's end at the latest, and never shown in the window.
open();
const relay = openPort("COM2", {baud: 9600});

function power(on) {
    const command = "RELAY 1 " + (on ? "ON" : "OFF");
    relay.send(command + "\r");
    relay.expect(command + " OK", 2000);
}

test("the relay answers", function () {
    power(false);
    log("board off");
});

test("the board boots after power on", function () {
    flush(); // whatever it said while it went down
    power(true);
    const banner = expect(/Board (\S+) booting/, 5000);
    log("booted firmware " + banner[1]);
    expect("login:", 5000);
});

test("no bytes on the console while off", function () {
    power(false);
    waitIdle(300);
    flush();
    check(read(1, 500) === "", "the board spoke while its power was off");
});

relay.close();
close();
