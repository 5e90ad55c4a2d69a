// AT/OK round trips against a board (or kirt-vdev, which answers "AT" with "OK").
//   kirt --script examples/scripts/at-smoke.js --port COM1
open();

// "OK" at the start of a line: the status lines end in OK too.
test("AT answers OK", function () {
    send("AT\r");
    expect(/^OK\r\n/m, 1000);
});

test("100 round trips", function () {
    for (let i = 0; i < 100; ++i) {
        send("AT\r");
        expect(/^OK\r\n/m, 1000);
    }
});

test("status line arrives with a rising count", function () {
    const first = expect(/STATUS (\d+) UP/, 3000);
    const second = expect(/STATUS (\d+) UP/, 3000);
    log("status " + first[1] + " then " + second[1]);
    check(Number(second[1]) > Number(first[1]), "the status count did not rise");
});

close();
