// A test that must fail: CI runs it and expects the exit code 1.
open();

test("an answer that never comes", function () {
    send("AT\r");
    expect("NO SUCH ANSWER", 300);
});

close();
