// Reads two holding registers from a Modbus RTU slave 1 (kirt-vdev --modbus 1 holds 1000h + n
// in register n) and checks the answer's CRC.
//   kirt --script examples/scripts/modbus-read.js --port COM2
open(undefined, { baud: 9600, parity: "none", stopBits: 1 });

function hex(s) {
    return Array.from(s, c => c.charCodeAt(0).toString(16).padStart(2, "0")).join(" ");
}

test("read registers 0 and 1", function () {
    const request = [0x01, 0x03, 0x00, 0x00, 0x00, 0x02];
    send(request.concat(Array.from(checksumBytes("crc16modbus", request), c => c.charCodeAt(0))));
    const answer = read(9, 1000);
    log("answer " + hex(answer));
    check(answer.length === 9, "short answer: " + hex(answer));
    check(answer.slice(0, 3) === "\x01\x03\x04", "not a read answer: " + hex(answer));
    const crc = checksumBytes("crc16modbus", answer.slice(0, 7));
    check(answer.slice(7) === crc, "CRC " + hex(answer.slice(7)) + ", expected " + hex(crc));
    const reg0 = answer.charCodeAt(3) * 256 + answer.charCodeAt(4);
    const reg1 = answer.charCodeAt(5) * 256 + answer.charCodeAt(6);
    check(reg0 === 0x1000 && reg1 === 0x1001, "registers " + reg0 + ", " + reg1);
});

test("the check value as a number", function () {
    check(checksum("crc16modbus", "\x01\x03\x00\x00\x00\x02") === 0x0BC4, "CRC of the request");
});

close();
